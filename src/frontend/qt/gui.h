// The window front end. The only part of the program that knows Qt.
#pragma once

// Makes the dialog the interactive front end, and real message boxes the
// error and /break boxes wherever a display can be reached.
void install_gui();

// Shows the "Processor Test" dialog until Quit; returns 0, or -1 when no
// window can be created (no display reachable).
int run_dialog();

// Creates the application object on first use; false when no display can be
// reached. Numbers stay in the C locale afterwards.
bool ensure_application();

class QIcon;
// The program's icon with all its images.
QIcon program_icon();
