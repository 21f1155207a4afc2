// Waiting in the notification area, and the resume shortcut in the Startup
// folder.
#pragma once

// Runs the tray wait; 1 when the user chose Open, 0 for Quit or close.
int RunTrayWait();
// Removes the icon and the menu when the process leaves.
void EndTray();
// On: creates or replaces the shortcut; off: deletes it.
void SetResumeShortcut(int on, const char* target, const char* arguments);
int GetOsKind();
