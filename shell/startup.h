// The process entry's work: defaults, image, the splash (modal), then the
// main window shown, and the file given on the command line (if any) loaded.
#pragma once

#include <QString>

class frmMain;

frmMain* StartApplication(const QString& file = QString());
