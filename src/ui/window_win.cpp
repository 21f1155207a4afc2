// Binding of window handles to their objects and the shared window and
// dialog procedures that dispatch to the objects' virtual operations.
#include "ui/window_win.h"

namespace {
HINSTANCE moduleInstance = nullptr;
// The object whose window is being created or whose dialog is opening, one
// per thread: a window's first messages reach the thread that creates it,
// while another thread (the fetch worker opening the HTTP settings dialog)
// may be creating a window of its own at the same moment.
thread_local WindowBase* pendingWindowObject = nullptr;

WindowBase* FindWindowObject(HWND hwnd) {
    WindowBase* object = reinterpret_cast<WindowBase*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (object) return object;
    object = pendingWindowObject;
    if (!object) return nullptr;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    object->hwnd = hwnd;
    pendingWindowObject = nullptr;
    return object;
}
}  // namespace

void SetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }
HINSTANCE GetModuleInstance() { return moduleInstance ? moduleInstance : GetModuleHandleA(nullptr); }

bool RegisterWindowClass(const char* className, UINT classStyle, HICON icon, HCURSOR cursor,
                         HBRUSH background, const char* menuName) {
    WNDCLASSA wc = {};
    wc.style = classStyle;
    wc.lpfnWndProc = WindowObjectProc;
    wc.hInstance = GetModuleInstance();
    wc.hIcon = icon;
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.lpszMenuName = menuName;
    wc.lpszClassName = className;
    return RegisterClassA(&wc) != 0;
}

LRESULT CALLBACK WindowObjectProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowBase* object = FindWindowObject(hwnd);
    // A window of ours created while no object was pending has nobody to
    // answer for it; the system's default handling keeps it harmless.
    if (!object) return DefWindowProcA(hwnd, message, wParam, lParam);
    return object->HandleWindowMessage(message, wParam, lParam);
}

INT_PTR CALLBACK DialogObjectProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowBase* object = FindWindowObject(hwnd);
    if (!object) return FALSE;
    return static_cast<DialogBase*>(object)->HandleDialogMessage(message, wParam, lParam);
}

bool WindowBase::Create(const char* className, const char* title, DWORD style, DWORD exStyle,
                        int x, int y, int width, int height, HWND parent, HMENU menu) {
    pendingWindowObject = this;
    HWND made = CreateWindowExA(exStyle, className, title, style, x, y, width, height, parent,
                                menu, GetModuleInstance(), nullptr);
    if (pendingWindowObject == this) pendingWindowObject = nullptr;
    hwnd = made;
    return made != nullptr;
}

LRESULT WindowBase::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

INT_PTR DialogBase::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        WORD id = LOWORD(wParam);
        if (id == IDOK || id == IDCANCEL || id == 1003 || id == 1004 || id == 1009) {
            EndDialog(hwnd, id);
            return TRUE;
        }
    }
    return FALSE;
}

INT_PTR DialogBase::ShowModal(HWND parent) {
    pendingWindowObject = this;
    INT_PTR result = DialogBoxParamA(GetModuleInstance(), MAKEINTRESOURCEA(templateId), parent,
                                     DialogObjectProc, 0);
    if (pendingWindowObject == this) pendingWindowObject = nullptr;
    return result;
}

void CenterOnScreen(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    MoveWindow(hwnd, x, y, width, height, TRUE);
    SetForegroundWindow(hwnd);
}

INT_PTR CenteredDialog::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) CenterOnScreen(hwnd);
    return DialogBase::HandleDialogMessage(message, wParam, lParam);
}
