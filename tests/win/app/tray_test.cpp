// The tray wait, its icon record and menu, and the resume shortcut.
// The wait is driven by thread timers that fire inside its message loop
// and post what the shell or the user would; a guard timer ends a wait
// that would otherwise never end, so a fault fails instead of hanging.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "base/process_win.h"
#include "app/run_modes.h"
#include "app/tray_win.h"
#include "base/resume_shortcut_win.h"

namespace {
// What the timer callbacks do and saw; one wait at a time.
struct Script {
    void (*step)() = nullptr;
    bool guardFired = false;
    bool menuShown = false;
    bool commandQueuedAfterMenu = false;
} script;

void CALLBACK GuardTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    script.guardFired = true;
    PostQuitMessage(99);
}

void CALLBACK StepTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (script.step) script.step();
}

// Runs one tray wait in which `step` runs once the loop is going.
int WaitWith(void (*step)()) {
    script = Script();
    script.step = step;
    UINT_PTR guard = SetTimer(nullptr, 0, 15000, GuardTimer);
    SetTimer(nullptr, 0, 1, StepTimer);
    int result = RunTrayWait();
    KillTimer(nullptr, guard);
    return result;
}

HWND Tray() { return FindWindowA(TRAY_WINDOW_CLASS, TRAY_WINDOW_CLASS); }

void PostOpen() { PostMessageA(Tray(), WM_COMMAND, TrayOpenCommand, 0); }
void PostQuit() { PostMessageA(Tray(), WM_COMMAND, TrayQuitCommand, 0); }
void DoubleClick() { SendMessageA(Tray(), TrayCallbackMessage, 1, WM_LBUTTONDBLCLK); }

void CALLBACK CloseMenuTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    HWND menu = FindWindowA("#32768", nullptr);
    script.menuShown = menu && IsWindowVisible(menu);
    EndMenu();
}

// Right-click: the menu opens; it is closed without a choice, and then
// the wait is ended by Open.
void RightClickThenOpen() {
    SetTimer(nullptr, 0, 1, CloseMenuTimer);
    SendMessageA(Tray(), TrayCallbackMessage, 1, WM_RBUTTONDOWN);
    MSG pending;
    script.commandQueuedAfterMenu = PeekMessageA(&pending, Tray(), WM_COMMAND, WM_COMMAND, PM_NOREMOVE);
    PostOpen();
}

bool TakeQuitMessage(WPARAM* code) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    *code = msg.wParam;
    return true;
}
}  // namespace

TEST(TrayRecord, FirstGenerationLayoutWithTooltipCutAt63) {
    NOTIFYICONDATAA record;
    std::string longTip(100, 'x');
    longTip[62] = 'E';
    FillTrayRecord(&record, reinterpret_cast<HWND>(0x1234), reinterpret_cast<HICON>(0x55), longTip.c_str());
    if (sizeof(void*) == 4) {
        EXPECT_EQ(88u, record.cbSize);
    }
    EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE), record.cbSize);
    EXPECT_EQ(1u, record.uID);
    EXPECT_EQ(static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP), record.uFlags);
    EXPECT_EQ(1041u, record.uCallbackMessage);
    EXPECT_EQ(63u, std::strlen(record.szTip));
    EXPECT_EQ('E', record.szTip[62]);

    FillTrayRecord(&record, nullptr, nullptr, "Corvane Lite Installer");
    EXPECT_STREQ("Corvane Lite Installer", record.szTip);
    FillTrayRecord(&record, nullptr, nullptr, nullptr);
    EXPECT_EQ(static_cast<UINT>(NIF_MESSAGE | NIF_ICON), record.uFlags);
    EXPECT_STREQ("", record.szTip);
}

TEST(TrayWait, OpenEndsTheWaitAndASecondWaitReusesEverything) {
    sessionActive = 0;
    ASSERT_EQ(1, WaitWith(PostOpen));
    EXPECT_FALSE(script.guardFired);
    HWND window = GetTrayWindow();
    TrayIcon* icon = GetCurrentTrayIcon();
    HMENU menu = GetTrayMenu();
    ASSERT_NE(nullptr, window);
    ASSERT_NE(nullptr, icon);
    ASSERT_NE(nullptr, menu);
    EXPECT_EQ(window, Tray());
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(window, icon->ownerWindow);
    EXPECT_EQ(1u, icon->iconId);
    EXPECT_EQ(40003u, icon->commandId);

    // The double-click reaches the same end as the menu's Open.
    ASSERT_EQ(1, WaitWith(DoubleClick));
    EXPECT_FALSE(script.guardFired);
    EXPECT_EQ(window, GetTrayWindow());
    EXPECT_EQ(icon, GetCurrentTrayIcon());
    EXPECT_EQ(menu, GetTrayMenu());
}

TEST(TrayWait, DoubleClickPostsTheOpenCommandMarked) {
    sessionActive = 0;
    ASSERT_EQ(1, WaitWith(PostOpen));
    DoubleClick();
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, Tray(), WM_COMMAND, WM_COMMAND, PM_REMOVE));
    EXPECT_EQ(40003u, msg.wParam);
    EXPECT_EQ(static_cast<LPARAM>(WM_LBUTTONDBLCLK), msg.lParam);
    // Other notifications of the icon do nothing.
    SendMessageA(Tray(), TrayCallbackMessage, 1, WM_MOUSEMOVE);
    SendMessageA(Tray(), TrayCallbackMessage, 1, WM_LBUTTONUP);
    EXPECT_FALSE(PeekMessageA(&msg, Tray(), WM_COMMAND, WM_COMMAND, PM_NOREMOVE));
}

TEST(TrayWait, OpenIsIgnoredWhileASessionRuns) {
    sessionActive = 0;
    ASSERT_EQ(1, WaitWith(PostOpen));
    WPARAM code = 0;
    sessionActive = 1;
    SendMessageA(Tray(), WM_COMMAND, TrayOpenCommand, 0);
    EXPECT_FALSE(TakeQuitMessage(&code));
    sessionActive = 0;
    SendMessageA(Tray(), WM_COMMAND, TrayOpenCommand, 0);
    ASSERT_TRUE(TakeQuitMessage(&code));
    EXPECT_EQ(1u, code);
}

TEST(TrayWait, EndOfTheWindowsSessionEndsTheWaitAndKeepsTheTray) {
    sessionActive = 0;
    auto endSession = [] { PostMessageA(Tray(), WM_ENDSESSION, TRUE, 0); };
    ASSERT_EQ(TraySessionEnds, WaitWith(endSession));
    EXPECT_FALSE(script.guardFired);
    EXPECT_NE(nullptr, GetTrayWindow());
    EXPECT_NE(nullptr, GetCurrentTrayIcon());
    // A session that is not ending, or a download session that handles the
    // end itself, leaves the tray alone.
    WPARAM code = 0;
    SendMessageA(Tray(), WM_ENDSESSION, FALSE, 0);
    EXPECT_FALSE(TakeQuitMessage(&code));
    sessionActive = 1;
    SendMessageA(Tray(), WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(TakeQuitMessage(&code));
    sessionActive = 0;
}

TEST(TrayMenu, OpenIsTheDefaultItem) {
    sessionActive = 0;
    ASSERT_EQ(1, WaitWith(PostOpen));
    HMENU menu = PrepareTrayMenu();
    ASSERT_EQ(GetTrayMenu(), menu);
    EXPECT_EQ(40003u, GetMenuDefaultItem(menu, FALSE, 0));
    EXPECT_EQ(40003u, GetMenuItemID(menu, 0));
    EXPECT_EQ(40002u, GetMenuItemID(menu, 1));
}

TEST(TrayMenu, RightClickShowsTheMenuAndClosingItChoosesNothing) {
    sessionActive = 0;
    ASSERT_EQ(1, WaitWith(RightClickThenOpen));
    EXPECT_FALSE(script.guardFired);
    EXPECT_TRUE(script.menuShown);
    EXPECT_FALSE(script.commandQueuedAfterMenu);
}

// Quit ends the tray: it must run after the tests that keep it.
TEST(TrayWaitEnd, QuitRemovesTheTrayAndAnotherWaitMakesItAnew) {
    sessionActive = 0;
    ASSERT_EQ(1, WaitWith(PostOpen));
    ASSERT_EQ(0, WaitWith(PostQuit));
    EXPECT_FALSE(script.guardFired);
    EXPECT_EQ(nullptr, GetTrayWindow());
    EXPECT_EQ(nullptr, GetCurrentTrayIcon());
    EXPECT_EQ(nullptr, Tray());

    // A new window gets its icon and double-click handling again.
    ASSERT_EQ(1, WaitWith(DoubleClick));
    EXPECT_FALSE(script.guardFired);
    EXPECT_NE(nullptr, GetTrayWindow());

    // Closing the window is a Quit too.
    auto close = [] { PostMessageA(Tray(), WM_CLOSE, 0, 0); };
    ASSERT_EQ(0, WaitWith(close));
    EXPECT_EQ(nullptr, GetTrayWindow());
    EndTray();
    EXPECT_EQ(nullptr, GetTrayMenu());
}

namespace {
std::string StartupFolder(int csidl) {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, csidl, TRUE);
    return path;
}

bool ReadShortcut(const char* path, std::string* target, std::string* arguments) {
    CoInitialize(nullptr);
    bool ok = false;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            WCHAR wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
            if (SUCCEEDED(file->Load(wide, STGM_READ))) {
                char t[MAX_PATH] = "", a[MAX_PATH] = "";
                link->GetPath(t, sizeof t, nullptr, SLGP_RAWPATH);
                link->GetArguments(a, sizeof a);
                *target = t;
                *arguments = a;
                ok = true;
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return ok;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }
}  // namespace

TEST(ResumeShortcut, OsKindSelectsTheStartupFolder) {
    OSVERSIONINFOA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    GetVersionExA(&v);
    int kind = GetOsKind();
    EXPECT_EQ(kind, GetOsKind());  // asked once, the same for the process
    char path[MAX_PATH];
    ASSERT_TRUE(GetResumeShortcutPath(path, sizeof path));
    const bool nt = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
    EXPECT_EQ(nt && v.dwMajorVersion >= 6 ? 1 : 0, GetSystemHasElevation());
    if (nt && v.dwMajorVersion >= 6) {
        // Vista and later: the user's own folder, written without
        // administrator rights and started at log-on without a prompt.
        EXPECT_EQ(4, kind);
        EXPECT_EQ(StartupFolder(CSIDL_STARTUP) + "\\Corvane Lite Installer.lnk", path);
    } else if (nt && v.dwMajorVersion >= 4) {
        EXPECT_EQ(4, kind);
        EXPECT_EQ(StartupFolder(CSIDL_COMMON_STARTUP) + "\\Corvane Lite Installer.lnk", path);
    } else {
        EXPECT_EQ(1, kind);
        EXPECT_EQ(StartupFolder(CSIDL_STARTUP) + "\\Corvane Lite Installer.lnk", path);
    }
}

TEST(ResumeShortcut, WrittenReadBackReplacedAndDeleted) {
    char path[MAX_PATH];
    ASSERT_TRUE(GetResumeShortcutPath(path, sizeof path));
    const bool common = GetOsKind() == 4 && !GetSystemHasElevation();
    SHCreateDirectoryExA(nullptr, StartupFolder(common ? CSIDL_COMMON_STARTUP : CSIDL_STARTUP).c_str(),
                         nullptr);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);

    SetResumeShortcut(1, self, " /tray /SaveProxySettings");
    ASSERT_TRUE(Exists(path));
    std::string target, arguments;
    ASSERT_TRUE(ReadShortcut(path, &target, &arguments));
    EXPECT_STRCASEEQ(self, target.c_str());
    EXPECT_EQ(" /tray /SaveProxySettings", arguments);

    // Written again after the next suspension: replaced, not duplicated.
    SetResumeShortcut(1, "C:\\T\\inst12.tmp\\setup.exe", " /NoIntervention");
    ASSERT_TRUE(ReadShortcut(path, &target, &arguments));
    EXPECT_STRCASEEQ("C:\\T\\inst12.tmp\\setup.exe", target.c_str());
    EXPECT_EQ(" /NoIntervention", arguments);

    SetResumeShortcut(0, "ignored", "ignored");
    EXPECT_FALSE(Exists(path));
    // Off without a shortcut is harmless.
    SetResumeShortcut(0, nullptr, nullptr);
    EXPECT_FALSE(Exists(path));
}
