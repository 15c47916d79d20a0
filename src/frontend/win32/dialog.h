// The "Processor Test" dialog from the program's dialog template.
#pragma once

#include <windows.h>

// The instance the program was started as; its resources hold the dialog
// template, the icon and the wait cursor.
extern HINSTANCE app_instance;

#include "frontend/window.h"

// Posted to the dialog itself by Run Test; each one is a complete run.
inline constexpr UINT kRunMessage = WM_USER;

INT_PTR CALLBACK processor_test_dialog(HWND dialog, UINT message, WPARAM first, LPARAM second);

// Shows the dialog until Quit: 0, or -1 when it cannot be created.
int run_dialog();

// Makes the dialog the program's interactive front end.
void install_dialog();
