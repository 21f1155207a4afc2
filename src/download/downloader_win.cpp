// Transport base: the hidden message window, the asynchronous host lookup
// and the start of Windows Sockets for transport threads.
#include "download/downloader_win.h"
#include "base/process_win.h"

#include <cstring>
#include <new>

namespace {
template <class T>
void MovePointer(T*& pointer, const char* from, char* to) {
    const char* p = reinterpret_cast<const char*>(pointer);
    if (p >= from && p < from + MAXGETHOSTSTRUCT) pointer = reinterpret_cast<T*>(to + (p - from));
}

// Copies a host entry and points its inner pointers at the copy.
void CopyHostEntry(char* to, const char* from) {
    memcpy(to, from, MAXGETHOSTSTRUCT);
    hostent* entry = reinterpret_cast<hostent*>(to);
    MovePointer(entry->h_name, from, to);
    MovePointer(entry->h_aliases, from, to);
    MovePointer(entry->h_addr_list, from, to);
    for (char** a = entry->h_aliases; a && *a; ++a) MovePointer(*a, from, to);
    for (char** a = entry->h_addr_list; a && *a; ++a) MovePointer(*a, from, to);
}
}  // namespace

Downloader::Downloader()
    : notifyWindow(nullptr), lookupHandle(nullptr), hostResolved(0), lookupBuffer(nullptr),
      bufferOwner(nullptr), pinned(0) {
    hostEntry[0] = 0;
    std::memset(pin, 0, sizeof pin);
}

void Downloader::SetFingerprint(const unsigned char* digest) {
    pinned = digest != nullptr;
    if (digest) std::memcpy(pin, digest, sizeof pin);
}

Downloader::~Downloader() {
    if (hwnd && IsWindow(hwnd)) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
    }
    hwnd = nullptr;
    if (bufferOwner) {
        // The answer may still be written after the cancel; the buffer is
        // left to the lookup (a kilobyte, and only when a lookup is pending).
        WSACancelAsyncRequest(bufferOwner);
        lookupBuffer = nullptr;
    }
    delete[] lookupBuffer;
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
    // A lookup that has not answered (also one that was cancelled) keeps
    // the buffer it was given.
    if (bufferOwner) lookupBuffer = nullptr;
    bufferOwner = nullptr;
    if (!lookupBuffer) lookupBuffer = new (std::nothrow) char[MAXGETHOSTSTRUCT];
    if (!lookupBuffer) {
        lookupHandle = nullptr;
        return 0;
    }
    lookupHandle = WSAAsyncGetHostByName(hwnd, msgDli1, name, lookupBuffer, MAXGETHOSTSTRUCT);
    bufferOwner = lookupHandle;
    return lookupHandle ? 1 : 0;
}

LRESULT Downloader::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == msgDli1) {
        bool fromBuffer = bufferOwner && reinterpret_cast<HANDLE>(wParam) == bufferOwner;
        lookupHandle = nullptr;
        if (WSAGETASYNCERROR(lParam) == 0) {
            if (fromBuffer) CopyHostEntry(hostEntry, lookupBuffer);
            hostResolved = 1;
        }
        if (fromBuffer) bufferOwner = nullptr;
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
