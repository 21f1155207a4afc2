// Transport base: the hidden message window, the asynchronous host lookup
// and the start of Windows Sockets for transport threads.
#include "download/downloader_win.h"
#include "app/process_win.h"

Downloader::Downloader() : notifyWindow(nullptr), lookupHandle(nullptr), hostResolved(0) {
    hostEntry[0] = 0;
}

Downloader::~Downloader() {
    if (hwnd && IsWindow(hwnd)) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
    }
    hwnd = nullptr;
}

bool Downloader::CreateMessageWindow(HWND notify) {
    // A second registration fails harmlessly; the class is already there.
    RegisterWindowClass("Downloader", 0, nullptr, nullptr, nullptr, nullptr);
    bool made = Create("Downloader", "Downloader", 0, WS_EX_TOOLWINDOW, 0, 0, 10, 10, nullptr, nullptr);
    notifyWindow = notify;
    return made;
}

int Downloader::ResolveHost(const char* name) {
    hostResolved = 0;
    lookupHandle = WSAAsyncGetHostByName(hwnd, msgDli1, name, hostEntry, sizeof hostEntry);
    return lookupHandle ? 1 : 0;
}

LRESULT Downloader::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == msgDli1) {
        lookupHandle = nullptr;
        if (WSAGETASYNCERROR(lParam) == 0) hostResolved = 1;
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT Downloader::Notify(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!notifyWindow) return 0;
    return SendMessageA(notifyWindow, message, wParam, lParam);
}

int StartSockets() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return -1;
    if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
        WSACleanup();
        return -1;
    }
    return 0;
}
