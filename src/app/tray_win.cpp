// The tray window, its icon and popup menu.
#include "app/tray_win.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstddef>
#include <cstring>

#include "app/run_modes.h"
#include "base/process_win.h"
#include "base/run_log.h"
#include "base/text_copy.h"
#include "ui/window_win.h"

namespace {
const int kTrayIconId = 106;
const int kTrayMenuId = 107;

class TrayWindow : public WindowBase {
public:
    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// Process-wide state of the tray: made by the first wait, kept for later
// ones.
TrayWindow* trayWindow = nullptr;
TrayIcon* trayIcon = nullptr;  // also the icon the subclass procedure serves
WNDPROC previousTrayProc = nullptr;
HMENU trayMenuBar = nullptr;
HMENU trayMenu = nullptr;

LRESULT ShowTrayMenu(HWND hwnd) {
    POINT cursor;
    GetCursorPos(&cursor);
    // Input of the window under the cursor is shared while the menu is up,
    // so that a click there closes the menu.
    DWORD ownThread = GetCurrentThreadId();
    DWORD otherThread = 0;
    HWND under = WindowFromPoint(cursor);
    if (under) otherThread = GetWindowThreadProcessId(under, nullptr);
    bool attached = otherThread && otherThread != ownThread &&
                    AttachThreadInput(ownThread, otherThread, TRUE);
    SetCapture(hwnd);
    MSG pending;
    while (PeekMessageA(&pending, nullptr, WM_MOUSEFIRST, WM_MBUTTONDBLCLK, PM_REMOVE)) {
    }
    HMENU menu = trayIcon && trayIcon->menuProvider ? trayIcon->menuProvider() : nullptr;
    BOOL shown = menu ? TrackPopupMenu(menu, TPM_RIGHTALIGN, cursor.x, cursor.y, 0, hwnd, nullptr)
                      : FALSE;
    ReleaseCapture();
    if (attached) AttachThreadInput(ownThread, otherThread, FALSE);
    return shown;
}

LRESULT CALLBACK TraySubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TrayCallbackMessage && trayIcon) {
        UINT mouse = LOWORD(lParam);
        if (mouse == WM_LBUTTONDBLCLK) {
            return PostMessageA(hwnd, WM_COMMAND, trayIcon->commandId, WM_LBUTTONDBLCLK);
        }
        if (mouse == WM_RBUTTONDOWN) return ShowTrayMenu(hwnd);
    }
    return CallWindowProcA(previousTrayProc, hwnd, message, wParam, lParam);
}

LRESULT TrayWindow::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == TrayQuitCommand)) {
        if (trayIcon) {
            trayIcon->Remove();
            delete trayIcon;
            trayIcon = nullptr;
        }
        DestroyWindow(hwnd);
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_ENDSESSION && wParam && !sessionActive) {
        // The process may be ended as soon as this returns; the download
        // stays suspended and resumes through its shortcut after the next
        // log-on, so nothing is removed.
        LogEvent("tray: Windows ends the session");
        PostQuitMessage(TraySessionEnds);
        return 0;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == TrayOpenCommand) {
        // During a session the tray window's messages arrive through the
        // session's dialog loop; the session is already open.
        if (!sessionActive) PostQuitMessage(1);
        return 0;
    }
    return WindowBase::HandleWindowMessage(message, wParam, lParam);
}

bool TrayWindowExists() { return trayWindow && trayWindow->hwnd && IsWindow(trayWindow->hwnd); }

bool MakeTray() {
    HINSTANCE instance = GetModuleInstance();
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(kTrayIconId));
    // Registration fails harmlessly when an earlier wait registered it.
    RegisterWindowClass(TRAY_WINDOW_CLASS, CS_HREDRAW | CS_VREDRAW, icon, nullptr, nullptr, nullptr);
    if (!trayWindow) trayWindow = new TrayWindow;
    if (!trayWindow->Create(TRAY_WINDOW_CLASS, TRAY_WINDOW_CLASS, WS_OVERLAPPEDWINDOW, 0,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                            nullptr)) {
        return false;
    }
    // Started from the Startup folder, the program may come before the
    // taskbar; an icon added before it exists would be lost.
    while (!FindWindowA("Shell_TrayWnd", nullptr)) Sleep(250);
    char tooltip[100] = "";
    LoadStringA(instance, 16, tooltip, sizeof tooltip);
    if (trayIcon) {
        trayIcon->Remove();
        delete trayIcon;
    }
    trayIcon = new TrayIcon;
    trayIcon->Add(instance, trayWindow->hwnd, icon, tooltip, PrepareTrayMenu, TrayOpenCommand);
    if (trayMenuBar) DestroyMenu(trayMenuBar);
    trayMenuBar = LoadMenuA(instance, MAKEINTRESOURCEA(kTrayMenuId));
    trayMenu = trayMenuBar ? GetSubMenu(trayMenuBar, 0) : nullptr;
    return true;
}
}  // namespace

void FillTrayRecord(NOTIFYICONDATAA* record, HWND owner, HICON icon, const char* tooltip) {
    std::memset(record, 0, sizeof *record);
    record->cbSize = NOTIFYICONDATAA_V1_SIZE;
    record->hWnd = owner;
    record->uID = 1;
    record->uFlags = NIF_MESSAGE | NIF_ICON;
    record->uCallbackMessage = TrayCallbackMessage;
    record->hIcon = icon;
    if (tooltip) {
        record->uFlags |= NIF_TIP;
        CopyTruncated(record->szTip, 64, tooltip);
    }
}

void TrayIcon::Add(HINSTANCE instance, HWND owner, HICON icon, const char* tooltip,
                   TrayMenuProvider provider, UINT command) {
    iconId = 1;
    ownerWindow = owner;
    menuProvider = provider;
    commandId = command;
    trayIcon = this;
    NOTIFYICONDATAA record;
    FillTrayRecord(&record, owner, icon, tooltip);
    Shell_NotifyIconA(NIM_ADD, &record);
    // The previous procedure is the same for every tray window, so it is
    // saved once; a window made anew is subclassed again.
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(owner, GWLP_WNDPROC)) != TraySubclassProc) {
        WNDPROC previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TraySubclassProc)));
        if (!previousTrayProc) previousTrayProc = previous;
    }
}

void TrayIcon::Remove() {
    NOTIFYICONDATAA record;
    std::memset(&record, 0, sizeof record);
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = ownerWindow;
    record.uID = 1;
    Shell_NotifyIconA(NIM_DELETE, &record);
}

int RunTrayWait() {
    if (!TrayWindowExists() && !MakeTray()) return 0;
    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (msg.message != WM_QUIT) return TrayQuit;
    return msg.wParam == TrayOpen || msg.wParam == TraySessionEnds ? static_cast<int>(msg.wParam)
                                                                   : TrayQuit;
}

void EndTray() {
    if (trayIcon) {
        trayIcon->Remove();
        delete trayIcon;
        trayIcon = nullptr;
    }
    if (trayMenuBar) DestroyMenu(trayMenuBar);
    trayMenuBar = nullptr;
    trayMenu = nullptr;
}

HMENU PrepareTrayMenu() {
    MENUITEMINFOA info;
    std::memset(&info, 0, sizeof info);
    // The size without the bitmap handle that later systems added: every
    // version of the system takes it.
    info.cbSize = offsetof(MENUITEMINFOA, hbmpItem);
    info.fMask = MIIM_STATE;
    info.fState = MFS_DEFAULT;
    SetMenuItemInfoA(trayMenu, TrayOpenCommand, FALSE, &info);
    return trayMenu;
}

HWND GetTrayWindow() { return TrayWindowExists() ? trayWindow->hwnd : nullptr; }
TrayIcon* GetCurrentTrayIcon() { return trayIcon; }
HMENU GetTrayMenu() { return trayMenu; }
