// Waiting in the notification area. (The resume shortcut is in
// base/resume_shortcut_win.h.)
#pragma once
#include <windows.h>
#include <shellapi.h>

// Class and title of the hidden tray window; a second start of the program
// finds the first one by them.
#define TRAY_WINDOW_CLASS "CV_TESSARK_TRAY_CLASS"
// The shell reports mouse actions on the icon with this message.
const UINT TrayCallbackMessage = WM_USER + 17;
const UINT TrayOpenCommand = 40003;
const UINT TrayQuitCommand = 40002;

typedef HMENU (*TrayMenuProvider)();

// The icon in the notification area; its owner window is subclassed so
// that a double-click posts `commandId` and a right-click shows the menu.
class TrayIcon {
public:
    TrayIcon() : iconId(0), ownerWindow(nullptr), commandId(0), menuProvider(nullptr) {}
    void Add(HINSTANCE instance, HWND owner, HICON icon, const char* tooltip,
             TrayMenuProvider provider, UINT command);
    void Remove();

    UINT iconId;
    HWND ownerWindow;
    UINT commandId;
    TrayMenuProvider menuProvider;
};

// The record given to the shell: the first-generation layout (88 bytes in
// a 32-bit program), which every shell accepts. The tooltip is cut to 63
// characters.
void FillTrayRecord(NOTIFYICONDATAA* record, HWND owner, HICON icon, const char* tooltip);

// Runs the tray wait; TrayOpen (1) when the user chose Open, TrayQuit (0)
// for Quit or close, or when the tray window cannot be made,
// TraySessionEnds (2) when Windows ends the user's session. The window, icon and menu are made
// once and reused by later waits.
int RunTrayWait();
// Removes the icon and destroys the menu when the process leaves.
void EndTray();
// Makes "&Open" the default item of the tray menu and returns the menu.
HMENU PrepareTrayMenu();
// The tray's parts while they exist (null otherwise).
HWND GetTrayWindow();
TrayIcon* GetCurrentTrayIcon();
HMENU GetTrayMenu();
