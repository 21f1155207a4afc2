// The one way the program shows a message box. A run that nobody attends
// (unattendedRun) must never wait for a click: its messages go to the run
// log with their text, and the run goes on as if the box's default button
// had been pressed.
#pragma once
#include <windows.h>

// Logs the text and shows it (owner, caption and type as MessageBoxA
// takes them); in an unattended run only logs it. Returns the button that
// closed the box, or in an unattended run the box's default button.
int ShowRunMessageBox(HWND owner, const char* text, const char* caption, UINT type);
