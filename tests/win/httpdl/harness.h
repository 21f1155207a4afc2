// Test harness of the HTTP transport: a notify window that records every
// report, a bounded message pump, published layouts (made by cvpack split)
// under the web server's root, and a small scripted HTTP server for what
// real servers will not do on request (cut a body short, hold a reply).
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/window_win.h"

std::string Env(const char* name);
// A Unix path as Windows programs under Wine see it.
std::string WinPath(const std::string& unixPath);
// A fresh, empty directory for one test, ending without a backslash.
std::string TestDirectory(const std::string& name);
void RemoveTree(const std::string& dir);
void WriteFileText(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
std::string PatternBytes(size_t size, unsigned seed);

// Removes every browser proxy setting of the current user, its bypass list
// and its intranet zone sites.
void ClearBrowserProxies();
// Internet settings naming a proxy "host:port" (enabled).
void SetSystemProxy(const std::string& server);
// Internet settings naming a proxy auto-configuration script (none when
// empty) and asking for automatic detection or not.
void SetAutoConfig(const std::string& scriptUrl, bool autoDetect);

// Runs the thread's messages until `done` holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds = 60000);

struct Report {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// The notify window of the transports under test.
class Recorder : public WindowBase {
public:
    Recorder();
    ~Recorder();
    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int Count(UINT message) const;
    int Count(UINT message, WPARAM wParam) const;
    const Report* Last(UINT message) const;
    // The names of the reports in order, e.g. "dl2 dl3 dl3 dl4".
    std::string Names() const;

    std::vector<Report> reports;
    // Called inside the handler, as the download dialog would act.
    std::function<void(const Report&)> onReport;
};

// A site layout under the web server's document root.
struct Layout {
    std::string name;      // directory under the root, the component's "sourceDir"
    std::string dir;       // its Windows path
    std::string source;    // the file that was split
};
// Writes `data` to a file and splits it with cvpack into root/name.
bool Publish(const std::string& name, const std::string& data, int partSize, Layout* out);
std::string WwwRoot();
int HttpPort();
// Replaces the part list of a layout.
void WritePartList(const Layout& layout, const std::string& text);
std::string ReadPartList(const Layout& layout);

// A scripted HTTP/1.0 server on 127.0.0.1 that serves the files of one
// directory, counts the requests for each path, and can misbehave.
class ScriptedServer {
public:
    // Trickle: the header and the first 4 KiB at once, then the rest in
    // pieces of 512 bytes 20 ms apart (a slow server); Release ends it.
    // CutShort ends the body halfway with no length announced; CutAnnounced
    // the same after a Content-Length of the whole body. DropAfter: the
    // whole file framed by its length, saying keep-alive, then the
    // connection dropped (a server ending an idle connection); SaysClose:
    // framed and saying "Connection: close".
    enum Action { Serve, CutShort, Unavailable, Hold, Trickle, Damaged, CutAnnounced, DropAfter, SaysClose };
    explicit ScriptedServer(const std::string& root);
    ~ScriptedServer();
    bool Start();
    int Port() const { return port; }
    // What the next requests for `path` get, in order; then Serve.
    void Script(const std::string& path, const std::vector<Action>& actions);
    // Basic credentials the server demands ("user:password"), empty for none.
    void RequireAuthorization(const std::string& userColonPassword);
    // Requests for `path` without any Authorization header get a 401 that
    // asks for a Windows login (Negotiate, NTLM).
    void RequireWindowsLogin(const std::string& path);
    // Called on the connection's thread with each request's path and how
    // many requests that path has had, before the answer is read from the
    // disk: a test changes the site there. Set before the fetch begins.
    std::function<void(const std::string& path, int count)> onRequest;
    // Lets held replies go.
    void Release();
    int Requests(const std::string& path);
    // Requests whose bytes hold `text`.
    int RequestsCarrying(const std::string& text);
    int HeldNow();
    int TotalRequests();
    // Answers to requests that ask for it keep the connection (by default
    // every answer ends its connection).
    void KeepAlive(bool keep);
    // Connections accepted so far.
    int Connections();

private:
    static DWORD WINAPI AcceptThread(LPVOID self);
    static DWORD WINAPI ConnectionThread(LPVOID self);
    void Handle(SOCKET s);
    // One request of a connection; true when the connection stays for the
    // next one.
    bool HandleOne(SOCKET s);

    std::string root;
    SOCKET listener;
    int port;
    HANDLE thread;
    HANDLE released;
    CRITICAL_SECTION lock;
    std::map<std::string, std::vector<Action>> scripts;
    std::map<std::string, int> counts;
    std::vector<std::string> requests;
    std::string authorization;
    std::vector<std::string> windowsLogin;
    int held;
    int total;
    int connections = 0;
    volatile bool keepAlive = false;
    volatile LONG stopping;
};
