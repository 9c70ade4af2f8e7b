// The process entry's work: defaults, image, the splash (modal), then the
// main window shown.
#pragma once

class frmMain;

frmMain* StartApplication();
