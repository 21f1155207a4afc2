// Test harness of the HTTP transport (see harness.h).
#include "harness.h"

#include <cstdio>
#include <cstring>

#include "base/process_win.h"
#include "http/codec.h"

std::string Env(const char* name) {
    char value[1024];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string WinPath(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path);
            else DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

std::string TestDirectory(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string base = std::string(temp) + "cv_httpdl";
    CreateDirectoryA(base.c_str(), nullptr);
    std::string dir = base + "\\" + name;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void WriteFileText(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::string ReadFileBytes(const std::string& path) {
    std::string all;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return all;
    char piece[65536];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) all.append(piece, n);
    std::fclose(f);
    return all;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string PatternBytes(size_t size, unsigned seed) {
    std::string data(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>(x >> 16);
    }
    return data;
}

namespace {
const char kInternet[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

void DeleteTree(HKEY parent, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(parent, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char name[256];
    for (;;) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteTree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, path);
}

void DeleteValue(const char* path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}
}  // namespace

void ClearBrowserProxies() {
    DeleteTree(HKEY_CURRENT_USER, "Software\\Netscape");
    DeleteValue(kInternet, "ProxyEnable");
    DeleteValue(kInternet, "ProxyServer");
    DeleteValue(kInternet, "AutoConfigURL");
    DeleteValue(kInternet, "AutoDetect");
    DeleteValue(kInternet, "ProxyOverride");
    DeleteTree(HKEY_CURRENT_USER, (std::string(kInternet) + "\\ZoneMap\\Domains").c_str());
}

void SetAutoConfig(const std::string& scriptUrl, bool autoDetect) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kInternet, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (!scriptUrl.empty())
        RegSetValueExA(key, "AutoConfigURL", 0, REG_SZ, reinterpret_cast<const BYTE*>(scriptUrl.c_str()),
                       static_cast<DWORD>(scriptUrl.size() + 1));
    DWORD flag = autoDetect ? 1 : 0;
    RegSetValueExA(key, "AutoDetect", 0, REG_DWORD, reinterpret_cast<BYTE*>(&flag), sizeof flag);
    RegCloseKey(key);
}

void SetSystemProxy(const std::string& server) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kInternet, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    DWORD one = 1;
    RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
    RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>(server.size() + 1));
    RegCloseKey(key);
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) return false;
        DWORD wait = milliseconds - elapsed;
        // Conditions outside the message queue (server counts, threads) are
        // looked at again at least this often.
        if (wait > 20) wait = 20;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT | QS_SENDMESSAGE);
    }
}

Recorder::Recorder() {
    RegisterWindowClass("CvTestRecorder", 0, nullptr, nullptr, nullptr, nullptr);
    Create("CvTestRecorder", "recorder", 0, 0, 0, 0, 10, 10, nullptr, nullptr);
}

Recorder::~Recorder() {
    if (hwnd) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
    }
}

LRESULT Recorder::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == msgDl1 || message == msgDl2 || message == msgDl3 || message == msgDl4) {
        Report r{message, wParam, lParam};
        reports.push_back(r);
        if (onReport) onReport(r);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

int Recorder::Count(UINT message) const {
    int n = 0;
    for (const Report& r : reports) n += r.message == message;
    return n;
}

int Recorder::Count(UINT message, WPARAM wParam) const {
    int n = 0;
    for (const Report& r : reports) n += r.message == message && r.wParam == wParam;
    return n;
}

const Report* Recorder::Last(UINT message) const {
    for (auto it = reports.rbegin(); it != reports.rend(); ++it)
        if (it->message == message) return &*it;
    return nullptr;
}

std::string Recorder::Names() const {
    std::string all;
    for (const Report& r : reports) {
        if (!all.empty()) all += " ";
        all += r.message == msgDl1 ? "dl1" : r.message == msgDl2 ? "dl2" : r.message == msgDl3 ? "dl3" : "dl4";
    }
    return all;
}

std::string WwwRoot() {
    std::string www = Env("CV_WWW_DIR");
    return www.empty() ? TestDirectory("www") : WinPath(www);
}

int HttpPort() {
    std::string port = Env("CV_HTTP_PORT");
    return port.empty() ? 18080 : atoi(port.c_str());
}

bool Publish(const std::string& name, const std::string& data, int partSize, Layout* out) {
    std::string work = TestDirectory("publish-" + name);
    out->name = name;
    out->source = work + "\\source.bin";
    out->dir = WwwRoot() + "\\" + name;
    RemoveTree(out->dir);
    WriteFileText(out->source, data);
    std::string bin = Env("CV_BIN_DIR");
    std::string tool = bin.empty() ? "cvpack.exe" : WinPath(bin) + "\\cvpack.exe";
    std::string command = "\"" + tool + "\" split \"" + out->source + "\" \"" + out->dir + "\" --part-size " +
                          std::to_string(partSize);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi))
        return false;
    DWORD code = 1;
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0 && FileExists(out->dir + "\\pkginfo.txt");
}

void WritePartList(const Layout& layout, const std::string& text) {
    WriteFileText(layout.dir + "\\pkginfo.txt", text);
}

std::string ReadPartList(const Layout& layout) { return ReadFileBytes(layout.dir + "\\pkginfo.txt"); }

// ---------------------------------------------------------------------------

namespace {
struct Connection {
    ScriptedServer* server;
    SOCKET socket;
};

void SendAll(SOCKET s, const char* data, size_t size) {
    while (size > 0) {
        int n = send(s, data, size > 65536 ? 65536 : static_cast<int>(size), 0);
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void CloseGracefully(SOCKET s) {
    shutdown(s, SD_SEND);
    // Drain what the client still sends, so that closing does not reset
    // the connection before the client has read the reply.
    timeval tv = {2, 0};
    fd_set set;
    char sink[512];
    for (;;) {
        FD_ZERO(&set);
        FD_SET(s, &set);
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) break;
        if (recv(s, sink, sizeof sink, 0) <= 0) break;
    }
    closesocket(s);
}
}  // namespace

ScriptedServer::ScriptedServer(const std::string& root)
    : root(root), listener(INVALID_SOCKET), port(0), thread(nullptr), held(0), total(0), stopping(0) {
    InitializeCriticalSection(&lock);
    released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

ScriptedServer::~ScriptedServer() {
    stopping = 1;
    SetEvent(released);
    if (listener != INVALID_SOCKET) closesocket(listener);
    if (thread) {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
    CloseHandle(released);
    DeleteCriticalSection(&lock);
}

bool ScriptedServer::Start() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener == INVALID_SOCKET) return false;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    if (listen(listener, 16) != 0) return false;
    int len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    thread = CreateThread(nullptr, 0, AcceptThread, this, 0, nullptr);
    return thread != nullptr;
}

void ScriptedServer::Script(const std::string& path, const std::vector<Action>& actions) {
    EnterCriticalSection(&lock);
    scripts[path] = actions;
    LeaveCriticalSection(&lock);
}

void ScriptedServer::RequireAuthorization(const std::string& userColonPassword) {
    EnterCriticalSection(&lock);
    authorization.clear();
    if (!userColonPassword.empty()) {
        char encoded[400];
        int n = IAD_Base64::encode(reinterpret_cast<const unsigned char*>(userColonPassword.data()),
                                   static_cast<int>(userColonPassword.size()), encoded, sizeof encoded, 0);
        authorization = "\r\nAuthorization: Basic " + std::string(encoded, n > 0 ? n : 0) + "\r\n";
    }
    LeaveCriticalSection(&lock);
}

void ScriptedServer::RequireWindowsLogin(const std::string& path) {
    EnterCriticalSection(&lock);
    windowsLogin.push_back(path);
    LeaveCriticalSection(&lock);
}

void ScriptedServer::Release() { SetEvent(released); }

int ScriptedServer::Requests(const std::string& path) {
    EnterCriticalSection(&lock);
    int n = counts[path];
    LeaveCriticalSection(&lock);
    return n;
}

int ScriptedServer::RequestsCarrying(const std::string& text) {
    EnterCriticalSection(&lock);
    int n = 0;
    for (const std::string& r : requests) n += r.find(text) != std::string::npos;
    LeaveCriticalSection(&lock);
    return n;
}

int ScriptedServer::HeldNow() {
    EnterCriticalSection(&lock);
    int n = held;
    LeaveCriticalSection(&lock);
    return n;
}

void ScriptedServer::KeepAlive(bool keep) { keepAlive = keep; }

int ScriptedServer::Connections() {
    EnterCriticalSection(&lock);
    int n = connections;
    LeaveCriticalSection(&lock);
    return n;
}

int ScriptedServer::TotalRequests() {
    EnterCriticalSection(&lock);
    int n = total;
    LeaveCriticalSection(&lock);
    return n;
}

DWORD WINAPI ScriptedServer::AcceptThread(LPVOID self) {
    ScriptedServer* server = static_cast<ScriptedServer*>(self);
    while (!server->stopping) {
        SOCKET s = accept(server->listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) break;
        Connection* c = new Connection{server, s};
        HANDLE h = CreateThread(nullptr, 0, ConnectionThread, c, 0, nullptr);
        if (h) CloseHandle(h);
        else {
            closesocket(s);
            delete c;
        }
    }
    return 0;
}

DWORD WINAPI ScriptedServer::ConnectionThread(LPVOID argument) {
    Connection* c = static_cast<Connection*>(argument);
    c->server->Handle(c->socket);
    delete c;
    return 0;
}

void ScriptedServer::Handle(SOCKET s) {
    EnterCriticalSection(&lock);
    ++connections;
    LeaveCriticalSection(&lock);
    // A connection kept after an answer serves the next request too.
    while (HandleOne(s)) {
    }
}

bool ScriptedServer::HandleOne(SOCKET s) {
    std::string request;
    char piece[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        int n = recv(s, piece, sizeof piece, 0);
        if (n <= 0) break;
        request.append(piece, n);
    }
    // The client closed a kept connection.
    if (request.empty()) {
        closesocket(s);
        return false;
    }
    // "GET /path HTTP/1.0", or with "http://host:port" before the path when
    // the request came through a proxy that passed it on unchanged.
    std::string path;
    size_t start = request.find(' ');
    size_t end = start == std::string::npos ? start : request.find(' ', start + 1);
    if (end != std::string::npos) path = request.substr(start + 1, end - start - 1);
    if (path.compare(0, 7, "http://") == 0) {
        size_t slash = path.find('/', 7);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }

    Action action = Serve;
    bool authorized = true;
    EnterCriticalSection(&lock);
    ++total;
    ++counts[path];
    requests.push_back(request);
    auto it = scripts.find(path);
    if (it != scripts.end() && !it->second.empty()) {
        action = it->second.front();
        it->second.erase(it->second.begin());
    }
    if (!authorization.empty() && request.find(authorization) == std::string::npos) authorized = false;
    bool windows = false;
    for (const std::string& p : windowsLogin) windows |= p == path;
    windows &= request.find("\r\nAuthorization: ") == std::string::npos;
    if (action == Hold) ++held;
    int count = counts[path];
    LeaveCriticalSection(&lock);
    if (onRequest) onRequest(path, count);

    if (windows) {
        const char reply[] = "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Negotiate\r\n"
                             "WWW-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n";
        SendAll(s, reply, sizeof reply - 1);
        CloseGracefully(s);
        return false;
    }
    if (!authorized) {
        const char reply[] = "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"test\"\r\n\r\n";
        SendAll(s, reply, sizeof reply - 1);
        CloseGracefully(s);
        return false;
    }
    if (action == Hold) {
        WaitForSingleObject(released, 60000);
        EnterCriticalSection(&lock);
        --held;
        LeaveCriticalSection(&lock);
        action = Serve;
    }
    if (action == Unavailable) {
        const char reply[] = "HTTP/1.0 503 Service Unavailable\r\n\r\n";
        SendAll(s, reply, sizeof reply - 1);
        CloseGracefully(s);
        return false;
    }
    std::string file = root;
    for (char ch : path) file += ch == '/' ? '\\' : ch;
    if (!FileExists(file)) {
        const char reply[] = "HTTP/1.0 404 Not Found\r\n\r\n";
        SendAll(s, reply, sizeof reply - 1);
        CloseGracefully(s);
        return false;
    }
    std::string body = ReadFileBytes(file);
    // Whole, but with its first byte changed: only the part's sum tells.
    if (action == Damaged && !body.empty()) body[0] = static_cast<char>(body[0] ^ 0x5A);
    // Kept: framed by its length, and the connection waits for the next
    // request, or is dropped at once as a server drops an idle one.
    bool asked = request.find("\r\nConnection: keep-alive\r\n") != std::string::npos;
    if ((keepAlive && asked && (action == Serve || action == Damaged)) || action == DropAfter ||
        action == SaysClose) {
        std::string head = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                           (action == SaysClose ? "\r\nConnection: close" : "\r\nConnection: keep-alive") +
                           "\r\n\r\n";
        SendAll(s, head.data(), head.size());
        SendAll(s, body.data(), body.size());
        if (action == Serve || action == Damaged) return true;
        if (action == DropAfter) {
            closesocket(s);
            return false;
        }
        CloseGracefully(s);
        return false;
    }
    std::string header = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n";
    if (action == CutAnnounced) header += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    header += "\r\n";
    SendAll(s, header.data(), header.size());
    if (action == Trickle) {
        size_t sent = body.size() < 4096 ? body.size() : 4096;
        if (send(s, body.data(), static_cast<int>(sent), 0) != static_cast<int>(sent)) sent = body.size() + 1;
        // The pace of a slow line; a client that gives up ends it.
        while (sent < body.size() && !stopping && WaitForSingleObject(released, 20) == WAIT_TIMEOUT) {
            int piece = body.size() - sent < 512 ? static_cast<int>(body.size() - sent) : 512;
            if (send(s, body.data() + sent, piece, 0) != piece) break;
            sent += static_cast<size_t>(piece);
        }
        if (sent < body.size()) {
            closesocket(s);
            return false;
        }
    } else {
        bool cut = action == CutShort || action == CutAnnounced;
        SendAll(s, body.data(), cut ? body.size() / 2 : body.size());
    }
    CloseGracefully(s);
    return false;
}
