// Window and dialog objects: binding to their handles on the first
// message, the commands that end a dialog, and centring on the screen.
// Dialogs are driven by messages they post to themselves, never by waiting.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "ui/window_win.h"

namespace {
const WORD kIntroTemplate = 105;     // a small dialog of the program
const WORD kSettingsTemplate = 108;  // the largest simple dialog
const UINT kCheck = WM_APP + 1;      // "the dialog is still open" marker

// A dialog that records its first messages and, once initialised, posts
// itself a scripted list of commands.
class ScriptedDialog : public DialogBase {
public:
    explicit ScriptedDialog(WORD templateId) : DialogBase(templateId) {}

    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (!sawFirstMessage) {
            sawFirstMessage = true;
            hwndAtFirstMessage = hwnd;
        }
        if (message == WM_INITDIALOG) {
            hwndAtInit = hwnd;
            boundAtInit = GetWindowLongPtrA(hwnd, GWLP_USERDATA) == reinterpret_cast<LONG_PTR>(this);
            for (WPARAM w : script) PostMessageA(hwnd, w == kCheck ? kCheck : WM_COMMAND, w, 0);
        }
        if (message == kCheck) ++checksSeen;
        return DialogBase::HandleDialogMessage(message, wParam, lParam);
    }

    std::vector<WPARAM> script;
    bool sawFirstMessage = false;
    HWND hwndAtFirstMessage = nullptr;
    HWND hwndAtInit = nullptr;
    bool boundAtInit = false;
    int checksSeen = 0;
};

INT_PTR RunScript(std::vector<WPARAM> script, int* checksSeen = nullptr) {
    ScriptedDialog d(kIntroTemplate);
    d.script = script;
    INT_PTR result = d.ShowModal(nullptr);
    if (checksSeen) *checksSeen = d.checksSeen;
    return result;
}
}  // namespace

TEST(DialogBinding, ObjectKnowsItsHandleBeforeInitDialog) {
    ScriptedDialog d(kIntroTemplate);
    d.script = {IDOK};
    EXPECT_EQ(IDOK, d.ShowModal(nullptr));
    EXPECT_TRUE(d.sawFirstMessage);
    EXPECT_NE(nullptr, d.hwndAtFirstMessage);
    EXPECT_EQ(d.hwndAtFirstMessage, d.hwndAtInit);
    EXPECT_TRUE(d.boundAtInit);
}

TEST(DialogBase, EndsOnExactlyTheFiveIds) {
    for (WPARAM id : {1, 2, 1003, 1004, 1009}) EXPECT_EQ(static_cast<INT_PTR>(id), RunScript({id}));
    // The notification code in the high word is not looked at.
    EXPECT_EQ(1004, RunScript({MAKEWPARAM(1004, 0x1234)}));
}

TEST(DialogBase, OtherCommandsLeaveTheDialogOpen) {
    int checks = 0;
    // Each other id is followed by a marker; all markers arrive before the
    // final OK, so none of the ids ended the dialog.
    std::vector<WPARAM> script;
    for (WPARAM id : {0, 3, 1000, 1001, 1002, 1005, 1008, 1010, 40003}) {
        script.push_back(id);
        script.push_back(kCheck);
    }
    script.push_back(IDOK);
    EXPECT_EQ(IDOK, RunScript(script, &checks));
    EXPECT_EQ(9, checks);
}

TEST(DialogBase, EscapeGivesTwo) {
    // Escape as the dialog manager delivers it: a key press in the dialog.
    class EscapeDialog : public DialogBase {
    public:
        EscapeDialog() : DialogBase(kIntroTemplate) {}
        INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
            if (message == WM_INITDIALOG) {
                HWND focus = GetDlgItem(hwnd, IDOK);
                PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            }
            return DialogBase::HandleDialogMessage(message, wParam, lParam);
        }
    } d;
    EXPECT_EQ(IDCANCEL, d.ShowModal(nullptr));
}

TEST(DialogBase, MissingTemplateGivesMinusOne) {
    ScriptedDialog d(4321);
    EXPECT_EQ(-1, d.ShowModal(nullptr));
    EXPECT_FALSE(d.sawFirstMessage);
}

namespace {
// A centred dialog made larger than the screen before it centres itself.
class OversizedDialog : public CenteredDialog {
public:
    OversizedDialog(int width, int height) : CenteredDialog(kSettingsTemplate), width(width), height(height) {}
    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_GETMINMAXINFO) {
            // Let the window be larger than the screen.
            MINMAXINFO* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMaxTrackSize.x = info->ptMaxSize.x = width * 2;
            info->ptMaxTrackSize.y = info->ptMaxSize.y = height * 2;
            return TRUE;
        }
        if (message == WM_INITDIALOG) {
            SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
            INT_PTR r = CenteredDialog::HandleDialogMessage(message, wParam, lParam);
            initResult = r;
            GetWindowRect(hwnd, &placed);
            PostMessageA(hwnd, WM_COMMAND, 1009, 0);
            return r;
        }
        return CenteredDialog::HandleDialogMessage(message, wParam, lParam);
    }
    int width, height;
    RECT placed = {};
    INT_PTR initResult = -5;
};

class PlainCentred : public CenteredDialog {
public:
    PlainCentred() : CenteredDialog(kIntroTemplate) {}
    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        INT_PTR r = CenteredDialog::HandleDialogMessage(message, wParam, lParam);
        if (message == WM_INITDIALOG) {
            GetWindowRect(hwnd, &placed);
            PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        }
        return r;
    }
    RECT placed = {};
};
}  // namespace

TEST(CenteredDialog, CentresOnTheScreen) {
    PlainCentred d;
    EXPECT_EQ(IDOK, d.ShowModal(nullptr));
    int w = d.placed.right - d.placed.left, h = d.placed.bottom - d.placed.top;
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - w) / 2, d.placed.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - h) / 2, d.placed.top);
}

TEST(CenteredDialog, LargerThanTheScreenGetsNegativeCoordinates) {
    int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    // Odd differences: the halves round toward zero.
    OversizedDialog d(cx + 301, cy + 201);
    EXPECT_EQ(1009, d.ShowModal(nullptr));
    EXPECT_EQ(FALSE, d.initResult);
    EXPECT_EQ(cx + 301, d.placed.right - d.placed.left);  // size kept, not clipped
    EXPECT_EQ(cy + 201, d.placed.bottom - d.placed.top);
    EXPECT_EQ(-150, d.placed.left);
    EXPECT_EQ(-100, d.placed.top);
}

namespace {
class RecordingWindow : public WindowBase {
public:
    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_NCCREATE && !firstHwnd) firstHwnd = hwnd;
        if (message == WM_CREATE) createdWith = hwnd;
        ++messages;
        return WindowBase::HandleWindowMessage(message, wParam, lParam);
    }
    HWND firstHwnd = nullptr;
    HWND createdWith = nullptr;
    int messages = 0;
};
}  // namespace

TEST(WindowBase, CreateBindsTheObjectFromTheFirstMessage) {
    ASSERT_TRUE(RegisterWindowClass("CvTestWindow", 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(RegisterWindowClass("CvTestWindow", 0, nullptr, nullptr, nullptr, nullptr));
    RecordingWindow a, b;
    ASSERT_TRUE(a.Create("CvTestWindow", "a", WS_OVERLAPPEDWINDOW, 0, 0, 0, 10, 10, nullptr, nullptr));
    ASSERT_TRUE(b.Create("CvTestWindow", "b", WS_OVERLAPPEDWINDOW, 0, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_EQ(a.hwnd, a.firstHwnd);
    EXPECT_EQ(a.hwnd, a.createdWith);
    EXPECT_NE(a.hwnd, b.hwnd);
    // Each window's messages reach its own object.
    int before = a.messages;
    SendMessageA(b.hwnd, WM_USER, 0, 0);
    EXPECT_EQ(before, a.messages);
    SendMessageA(a.hwnd, WM_USER, 0, 0);
    EXPECT_EQ(before + 1, a.messages);
    DestroyWindow(a.hwnd);
    DestroyWindow(b.hwnd);
}

TEST(WindowBase, FailedCreateReportsFalseAndLeavesNothingPending) {
    RecordingWindow w;
    EXPECT_FALSE(w.Create("NoSuchClassAtAll", "x", 0, 0, 0, 0, 1, 1, nullptr, nullptr));
    EXPECT_EQ(nullptr, w.hwnd);
    // A dialog opened next binds to its own object, not the failed one.
    ScriptedDialog d(kIntroTemplate);
    d.script = {IDOK};
    EXPECT_EQ(IDOK, d.ShowModal(nullptr));
    EXPECT_TRUE(d.boundAtInit);
    EXPECT_EQ(0, w.messages);
}

TEST(ModuleInstance, DefaultsToTheProgramAndCanBeSet) {
    EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleInstance());
    SetModuleInstance(GetModuleHandleA(nullptr));
    EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleInstance());
}

namespace {
// Two threads creating windows at the same moment: the main thread's
// creation is held, by a hook, between the moment its object is pending and
// the window's first message, while a second thread creates a window of
// its own (as the fetch worker opens the HTTP settings dialog while the
// user-interface thread may create a window).
struct CrossThread {
    HANDLE go;
    HANDLE done;
    RecordingWindow* workerWindow;
    bool workerCreated;
    HHOOK hook;
};
CrossThread* crossThread = nullptr;

DWORD WINAPI CreateOnWorker(void*) {
    WaitForSingleObject(crossThread->go, 30000);
    crossThread->workerCreated = crossThread->workerWindow->Create(
        "CvThreadTestWindow", "worker", WS_OVERLAPPEDWINDOW, 0, 0, 0, 10, 10, nullptr, nullptr);
    SetEvent(crossThread->done);
    // The window belongs to this thread; it goes with it.
    if (crossThread->workerWindow->hwnd) DestroyWindow(crossThread->workerWindow->hwnd);
    return 0;
}

LRESULT CALLBACK HoldMainCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && crossThread->go) {
        HANDLE go = crossThread->go;
        crossThread->go = nullptr;  // only the first window is held
        SetEvent(go);
        WaitForSingleObject(crossThread->done, 30000);
        CloseHandle(go);
    }
    return CallNextHookEx(crossThread->hook, code, wParam, lParam);
}
}  // namespace

TEST(WindowBase, WindowsMadeOnTwoThreadsAtOnceBindToTheirOwnObjects) {
    RegisterWindowClass("CvThreadTestWindow", 0, nullptr, nullptr, nullptr, nullptr);
    RecordingWindow mainWindow, workerWindow;
    CrossThread state = {CreateEventA(nullptr, TRUE, FALSE, nullptr),
                         CreateEventA(nullptr, TRUE, FALSE, nullptr), &workerWindow, false,
                         nullptr};
    crossThread = &state;
    HANDLE go = state.go;
    HANDLE worker = CreateThread(nullptr, 0, CreateOnWorker, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, worker);
    state.hook = SetWindowsHookExA(WH_CBT, HoldMainCreation, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, state.hook);
    EXPECT_TRUE(mainWindow.Create("CvThreadTestWindow", "main", WS_OVERLAPPEDWINDOW, 0, 0, 0, 10,
                                  10, nullptr, nullptr));
    UnhookWindowsHookEx(state.hook);
    if (state.go) SetEvent(go);  // the hook never ran: let the worker end
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(worker, 30000));
    CloseHandle(worker);
    CloseHandle(state.done);
    crossThread = nullptr;

    EXPECT_EQ(nullptr, state.go) << "the main creation was not held";
    EXPECT_TRUE(state.workerCreated);
    // Each object got its own window's messages from the first one on.
    EXPECT_EQ(mainWindow.hwnd, mainWindow.firstHwnd);
    EXPECT_EQ(mainWindow.hwnd, mainWindow.createdWith);
    EXPECT_EQ(workerWindow.hwnd, workerWindow.firstHwnd);
    EXPECT_EQ(workerWindow.hwnd, workerWindow.createdWith);
    EXPECT_NE(mainWindow.hwnd, workerWindow.hwnd);
    DestroyWindow(mainWindow.hwnd);
}
