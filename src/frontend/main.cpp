// The process entry: the arguments arrive already split, and each one goes
// into the argument table whole, whatever quotes or blanks it holds.
#include "shell/shell.h"
#ifdef PT_HAVE_GUI
#include "frontend/qt/gui.h"
#endif

int main(int argc, char** argv) {
#ifdef PT_HAVE_GUI
    install_gui();
#endif
    return pt_entry_arguments(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);
}
