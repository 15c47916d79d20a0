// The "Processor Test" dialog from the program's dialog template.
#pragma once

#include <windows.h>

// The instance the program was started as; its resources hold the dialog
// template, the icon and the wait cursor.
extern HINSTANCE app_instance;

// Control ids of the template.
inline constexpr int kProgramNameId = 100;
inline constexpr int kNoticeId = 101;
inline constexpr int kVersionId = 102;
inline constexpr int kSpareId = 103;
inline constexpr int kStatusId = 104;
inline constexpr int kRunTestId = 1;
inline constexpr int kQuitId = 2;

// Posted to the dialog itself by Run Test; each one is a complete run.
inline constexpr UINT kRunMessage = WM_USER;

INT_PTR CALLBACK processor_test_dialog(HWND dialog, UINT message, WPARAM first, LPARAM second);

// Shows the dialog until Quit: 0, or -1 when it cannot be created.
int run_dialog();

// Makes the dialog the program's interactive front end.
void install_dialog();
