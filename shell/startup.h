// The process entry's work: defaults, image, the splash (modal), then the
// main window shown, and the file given on the command line (if any) loaded.
#pragma once

#include <QString>

class QIcon;
class frmMain;

// The program's icon, which every window carries (the desktop's is the
// installed theme icon of the same pictures).
QIcon ApplicationIcon();

frmMain* StartApplication(const QString& file = QString());

class frmProduction;
struct StationSettings;

// zk7-programmer --production: no splash and no main window, only the
// production window, started with these settings (the command line has
// checked them).
frmProduction* StartStation(const StationSettings& settings);
