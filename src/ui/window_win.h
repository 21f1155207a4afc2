// Window and dialog objects: every window of the program is a C++ object
// bound to its window handle on the window's first message, and every
// message is handed to a virtual operation of that object.
#pragma once
#include <windows.h>

void SetModuleInstance(HINSTANCE instance);
HINSTANCE GetModuleInstance();

// Registers a window class whose procedure is WindowObjectProc.
bool RegisterWindowClass(const char* className, UINT classStyle, HICON icon, HCURSOR cursor,
                         HBRUSH background, const char* menuName);

LRESULT CALLBACK WindowObjectProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DialogObjectProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

class WindowBase {
public:
    WindowBase() : hwnd(nullptr) {}
    // Slot 0: makes the window; the object is bound to it before the first
    // message is handled. True when a window was made.
    virtual bool Create(const char* className, const char* title, DWORD style, DWORD exStyle,
                        int x, int y, int width, int height, HWND parent, HMENU menu);
    // Slot 1: the window procedure of this object.
    virtual LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd;

protected:
    // Not virtual by design: owners destroy the exact type they made.
    ~WindowBase() {}
};

class DialogBase : public WindowBase {
public:
    explicit DialogBase(WORD templateId) : templateId(templateId) {}
    // Slot 2: the dialog procedure; ends the dialog on IDOK, IDCANCEL,
    // 1003, 1004 and 1009 with that id as the result.
    virtual INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs the dialog modally; returns the EndDialog result (-1 on failure).
    INT_PTR ShowModal(HWND parent);

    WORD templateId;

protected:
    ~DialogBase() {}
};

// A dialog that centres itself on the screen and comes to the foreground.
class CenteredDialog : public DialogBase {
public:
    explicit CenteredDialog(WORD templateId) : DialogBase(templateId) {}
    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    ~CenteredDialog() {}
};

// Centres a window on the screen (may give negative coordinates for a window
// larger than the screen), repaints it and brings it to the foreground.
void CenterOnScreen(HWND hwnd);
