// Start-up's own message boxes: no owner, captioned with the program's name;
// in an unattended run their texts go to the run log (run_message_win.h).
#pragma once
#include <windows.h>

// Shows a message box without owner: caption string 16, text string `id`.
int ShowMessage(UINT id, UINT type);
// The same with a text that takes one argument at its "%s".
int ShowMessageWith(UINT id, const char* argument, UINT type);
