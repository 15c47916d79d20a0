// The Windows entry: the system hands over the command line without the
// program name, which is exactly the text the program entry expects.
#include <windows.h>

#include "frontend/win32/dialog.h"
#include "shell/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    app_instance = instance;
    install_dialog();
    return pt_entry(command_line);
}
