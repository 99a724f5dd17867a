// The window thread's message loop.
#pragma once

#include <windows.h>

// Keyboard navigation (Tab, the version window's Escape) goes through
// IsDialogMessage for these windows.
void Register_Dialog_Window(HWND window);

// Alt with a letter typed into any of this window's controls opens the
// window's menus (WM_SYSCOMMAND SC_KEYMENU to the window), as on Windows;
// Wine would look for a menu bar of the control's own.
void Route_Menu_Keys_To(HWND window);

// Runs until WM_QUIT; returns its exit code.
int Run_Message_Loop();
