// cvdrive: the end-to-end tests' hands inside Wine. It finds the program's
// windows, reads their texts and list rows, and presses buttons by posting
// the messages a click would send; no X input is involved. Every result is
// written to the output file named first on the command line, since a pipe
// from a Windows program under Wine never reaches its end.
//
//   cvdrive OUTFILE COMMAND [window options] [arguments]
//
// Window options select one top-level window (all given ones must match):
//   -t TITLE   exact title          -ts TEXT  title contains TEXT
//   -c CLASS   exact class name     -p PID    owned by this process id
//   -w HWND    this handle          -s TEXT   some child's text contains TEXT
//   -v         visible windows only -T MS     wait bound (default 10000)
//
// Commands:
//   wait                  wait for the window; print its description
//   gone                  wait until no such window remains
//   windows               print every matching window (no waiting)
//   texts                 print the window and each child: id, class, text,
//                         visible, enabled (tab separated)
//   click CONTROL         press a button: WM_COMMAND with BN_CLICKED to its
//                         parent. CONTROL is an id, an exact text or
//                         class=NAME, searched among all descendants
//   clickbm CONTROL       the same through BM_CLICK
//   post MSG [W [L]]      post a message (number, WM_ name or reg:NAME)
//   send MSG [W [L]]      send it (bounded) and print the result
//   listview CONTROL      print "header" and "row" lines of a list view
//   answer BUTTON         answer a message box: ok, cancel, yes, no, retry,
//                         abort, ignore or a number
//   path WHAT             print a path: windows, temp, system, csidl:N
//   lnk PATH              print "path=" and "args=" of a shell link
//   acl PATH              print the access list of a file or folder as the
//                         system gives it back: "user=" (this process's
//                         user SID), "owner=", "control=" (hex) and one
//                         "ace=TYPE SID MASK FLAGS" line per entry
//
// Exit code: 0 done, 1 window not found in time (or still there for
// "gone"), 2 bad usage or failed operation.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
FILE* out = nullptr;

struct Filter {
    const char* title = nullptr;
    const char* titlePart = nullptr;
    const char* className = nullptr;
    const char* childText = nullptr;
    DWORD pid = 0;
    HWND hwnd = nullptr;
    bool visibleOnly = false;
    DWORD timeout = 10000;
};

std::string ClassOf(HWND w) {
    char buffer[256] = "";
    GetClassNameA(w, buffer, sizeof buffer);
    return buffer;
}

// Text of a window of any process: WM_GETTEXT is marshalled by the system.
std::string TextOf(HWND w) {
    std::vector<char> buffer(4096, 0);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, 2000, &got)) {
        GetWindowTextA(w, buffer.data(), static_cast<int>(buffer.size()));
    }
    return buffer.data();
}

// Line breaks and tabs are written as \n, \r and \t so that each record is
// one line.
std::string Escape(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c == '\n') r += "\\n";
        else if (c == '\r') r += "\\r";
        else if (c == '\t') r += "\\t";
        else if (c == '\\') r += "\\\\";
        else r += c;
    }
    return r;
}

bool ChildHasText(HWND parent, const char* text) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (TextOf(c).find(text) != std::string::npos) return true;
    }
    return false;
}

bool Matches(HWND w, const Filter& f) {
    if (f.hwnd && w != f.hwnd) return false;
    if (f.visibleOnly && !IsWindowVisible(w)) return false;
    if (f.pid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != f.pid) return false;
    }
    if (f.className && ClassOf(w) != f.className) return false;
    if (f.title || f.titlePart) {
        char title[512] = "";
        GetWindowTextA(w, title, sizeof title);
        if (f.title && std::strcmp(title, f.title) != 0) return false;
        if (f.titlePart && !std::strstr(title, f.titlePart)) return false;
    }
    if (f.childText && !ChildHasText(w, f.childText)) return false;
    return true;
}

struct Search {
    const Filter* filter;
    std::vector<HWND> found;
};

BOOL CALLBACK Collect(HWND w, LPARAM p) {
    Search* s = reinterpret_cast<Search*>(p);
    if (Matches(w, *s->filter)) s->found.push_back(w);
    return TRUE;
}

std::vector<HWND> FindAll(const Filter& f) {
    Search s{&f, {}};
    if (f.hwnd) {
        if (IsWindow(f.hwnd) && Matches(f.hwnd, f)) s.found.push_back(f.hwnd);
    } else {
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&s));
    }
    return s.found;
}

// Polls for the window until the bound: windows of another process give
// no event to wait on.
HWND WaitFor(const Filter& f) {
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> all = FindAll(f);
        if (!all.empty()) return all.front();
        if (GetTickCount() - start >= f.timeout) return nullptr;
        Sleep(50);
    }
}

void Describe(HWND w) {
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(w, &pid);
    char title[512] = "";
    GetWindowTextA(w, title, sizeof title);
    std::fprintf(out,
                 "hwnd=0x%llx\tpid=%lu\ttid=%lu\tvisible=%d\towner=0x%llx\tclass=%s\ttitle=%s\n",
                 static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(w)),
                 static_cast<unsigned long>(pid),
                 static_cast<unsigned long>(tid), IsWindowVisible(w) ? 1 : 0,
                 static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(GetWindow(w, GW_OWNER))),
                 ClassOf(w).c_str(), Escape(title).c_str());
}

unsigned long long Number(const char* s) { return std::strtoull(s, nullptr, 0); }

bool IsNumber(const char* s) {
    if (!*s) return false;
    char* end = nullptr;
    std::strtoull(s, &end, 0);
    return *end == 0;
}

UINT MessageId(const char* name) {
    struct Named {
        const char* name;
        UINT id;
    } known[] = {{"WM_COMMAND", WM_COMMAND},
                 {"WM_CLOSE", WM_CLOSE},
                 {"WM_QUERYENDSESSION", WM_QUERYENDSESSION},
                 {"WM_ENDSESSION", WM_ENDSESSION},
                 {"WM_QUIT", WM_QUIT},
                 {"WM_SYSCOMMAND", WM_SYSCOMMAND},
                 {"WM_KEYDOWN", WM_KEYDOWN},
                 {"WM_LBUTTONDBLCLK", WM_LBUTTONDBLCLK},
                 {"WM_RBUTTONDOWN", WM_RBUTTONDOWN},
                 {"WM_USER", WM_USER}};
    for (const Named& n : known) {
        if (std::strcmp(n.name, name) == 0) return n.id;
    }
    if (std::strncmp(name, "reg:", 4) == 0) return RegisterWindowMessageA(name + 4);
    return static_cast<UINT>(Number(name));
}

// WPARAM / LPARAM: numbers, or a message name (for lParam WM_LBUTTONDBLCLK).
unsigned long long Param(const char* s) { return IsNumber(s) ? Number(s) : MessageId(s); }

struct ControlSearch {
    const char* what;
    HWND found;
};

BOOL CALLBACK MatchControl(HWND c, LPARAM p) {
    ControlSearch* s = reinterpret_cast<ControlSearch*>(p);
    bool match;
    if (std::strncmp(s->what, "class=", 6) == 0) {
        match = _stricmp(ClassOf(c).c_str(), s->what + 6) == 0;
    } else if (IsNumber(s->what)) {
        match = GetDlgCtrlID(c) == static_cast<int>(Number(s->what));
    } else {
        match = TextOf(c) == s->what;
    }
    if (match) {
        s->found = c;
        return FALSE;
    }
    return TRUE;
}

// A control anywhere below `parent`: by id, by exact text, or by class
// written as "class=NAME".
HWND FindControl(HWND parent, const char* what) {
    if (IsNumber(what)) {
        HWND c = GetDlgItem(parent, static_cast<int>(Number(what)));
        if (c) return c;
    }
    ControlSearch s{what, nullptr};
    EnumChildWindows(parent, MatchControl, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

void PrintTexts(HWND w) {
    Describe(w);
    for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        std::fprintf(out, "%d\t%s\t%s\t%d\t%d\n", GetDlgCtrlID(c), ClassOf(c).c_str(),
                     Escape(TextOf(c)).c_str(), IsWindowVisible(c) ? 1 : 0,
                     IsWindowEnabled(c) ? 1 : 0);
    }
}

// Memory in the list view's process for a request record and its text.
class RemoteBuffer {
public:
    RemoteBuffer(HWND w, size_t size) : size(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process) address = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~RemoteBuffer() {
        if (address) VirtualFreeEx(process, address, 0, MEM_RELEASE);
        if (process) CloseHandle(process);
    }
    bool Ok() const { return address != nullptr; }
    char* At(size_t offset) const { return static_cast<char*>(address) + offset; }
    bool Write(size_t offset, const void* data, size_t n) const {
        return WriteProcessMemory(process, At(offset), data, n, nullptr);
    }
    bool Read(size_t offset, void* data, size_t n) const {
        return ReadProcessMemory(process, At(offset), data, n, nullptr);
    }

private:
    HANDLE process = nullptr;
    void* address = nullptr;
    size_t size;
};

const size_t kTextOffset = 512;
const size_t kTextSize = 1024;

std::string CellText(HWND list, const RemoteBuffer& remote, int row, int column) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = remote.At(kTextOffset);
    item.cchTextMax = kTextSize;
    char text[kTextSize] = "";
    remote.Write(kTextOffset, text, sizeof text);
    remote.Write(0, &item, sizeof item);
    DWORD_PTR length = 0;
    SendMessageTimeoutA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote.At(0)),
                        SMTO_ABORTIFHUNG, 2000, &length);
    remote.Read(kTextOffset, text, sizeof text);
    text[kTextSize - 1] = 0;
    return text;
}

std::string HeaderText(HWND header, const RemoteBuffer& remote, int column) {
    HDITEMA item = {};
    item.mask = HDI_TEXT;
    item.pszText = remote.At(kTextOffset);
    item.cchTextMax = kTextSize;
    char text[kTextSize] = "";
    remote.Write(kTextOffset, text, sizeof text);
    remote.Write(0, &item, sizeof item);
    DWORD_PTR ok = 0;
    SendMessageTimeoutA(header, HDM_GETITEMA, column, reinterpret_cast<LPARAM>(remote.At(0)),
                        SMTO_ABORTIFHUNG, 2000, &ok);
    remote.Read(kTextOffset, text, sizeof text);
    text[kTextSize - 1] = 0;
    return text;
}

int PrintListView(HWND list) {
    RemoteBuffer remote(list, kTextOffset + kTextSize);
    if (!remote.Ok()) {
        std::fprintf(out, "error: no memory in the list's process\n");
        return 2;
    }
    DWORD_PTR rows = 0, columns = 0;
    SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &rows);
    DWORD_PTR header = 0;
    SendMessageTimeoutA(list, LVM_GETHEADER, 0, 0, SMTO_ABORTIFHUNG, 2000, &header);
    HWND headerWindow = reinterpret_cast<HWND>(header);
    if (headerWindow) {
        SendMessageTimeoutA(headerWindow, HDM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &columns);
    }
    if (static_cast<int>(columns) <= 0) columns = 1;
    std::fprintf(out, "header");
    for (int c = 0; c < static_cast<int>(columns); ++c) {
        std::fprintf(out, "\t%s",
                     headerWindow ? Escape(HeaderText(headerWindow, remote, c)).c_str() : "");
    }
    std::fprintf(out, "\n");
    for (int r = 0; r < static_cast<int>(rows); ++r) {
        std::fprintf(out, "row");
        for (int c = 0; c < static_cast<int>(columns); ++c) {
            std::fprintf(out, "\t%s", Escape(CellText(list, remote, r, c)).c_str());
        }
        std::fprintf(out, "\n");
    }
    return 0;
}

int ButtonId(const char* name) {
    struct Named {
        const char* name;
        int id;
    } known[] = {{"ok", IDOK},     {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
                 {"ignore", IDIGNORE}, {"yes", IDYES},  {"no", IDNO}};
    for (const Named& n : known) {
        if (_stricmp(n.name, name) == 0) return n.id;
    }
    return static_cast<int>(Number(name));
}

int PrintPath(const char* what) {
    char path[MAX_PATH] = "";
    if (std::strcmp(what, "windows") == 0) {
        GetWindowsDirectoryA(path, sizeof path);
    } else if (std::strcmp(what, "system") == 0) {
        GetSystemDirectoryA(path, sizeof path);
    } else if (std::strcmp(what, "temp") == 0) {
        GetTempPathA(sizeof path, path);
        size_t n = std::strlen(path);
        if (n > 3 && path[n - 1] == '\\') path[n - 1] = 0;
    } else if (std::strncmp(what, "csidl:", 6) == 0) {
        if (!SHGetSpecialFolderPathA(nullptr, path, static_cast<int>(Number(what + 6)), TRUE)) {
            std::fprintf(out, "error: no folder %s\n", what);
            return 2;
        }
    } else {
        std::fprintf(out, "error: unknown path %s\n", what);
        return 2;
    }
    std::fprintf(out, "%s\n", path);
    return 0;
}

int PrintShortcut(const char* path) {
    CoInitialize(nullptr);
    int rc = 2;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            WCHAR wide[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
            if (SUCCEEDED(file->Load(wide, STGM_READ))) {
                char target[MAX_PATH] = "", args[1024] = "";
                link->GetPath(target, sizeof target, nullptr, SLGP_RAWPATH);
                link->GetArguments(args, sizeof args);
                std::fprintf(out, "path=%s\nargs=%s\n", target, args);
                rc = 0;
            } else {
                std::fprintf(out, "error: cannot load %s\n", path);
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    return rc;
}

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!sid || !ConvertSidToStringSidA(sid, &text)) return "?";
    std::string result = text;
    LocalFree(text);
    return result;
}

int PrintAccessList(const char* path) {
    HANDLE token = nullptr;
    BYTE user[256];
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (GetTokenInformation(token, TokenUser, user, sizeof user, &size))
            std::fprintf(out, "user=%s\n", SidText(reinterpret_cast<TOKEN_USER*>(user)->User.Sid).c_str());
        CloseHandle(token);
    }
    std::vector<BYTE> buffer(65536);
    if (!GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer.data(),
                          static_cast<DWORD>(buffer.size()), &size)) {
        std::fprintf(out, "error: no access list of %s (%lu)\n", path, GetLastError());
        return 2;
    }
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(buffer.data(), &owner, &defaulted);
    std::fprintf(out, "owner=%s\n", SidText(owner).c_str());
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(buffer.data(), &control, &revision);
    std::fprintf(out, "control=%x\n", control);
    BOOL present = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(buffer.data(), &present, &acl, &defaulted);
    for (DWORD i = 0; present && acl && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace)) continue;
        const ACE_HEADER* header = static_cast<ACE_HEADER*>(ace);
        // Allowed and denied entries share their layout.
        const ACCESS_ALLOWED_ACE* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        std::fprintf(out, "ace=%d %s %lx %x\n", header->AceType,
                     SidText(const_cast<DWORD*>(&entry->SidStart)).c_str(),
                     static_cast<unsigned long>(entry->Mask), header->AceFlags);
    }
    return 0;
}

int Usage(const char* why) {
    std::fprintf(out ? out : stderr, "usage error: %s\n", why);
    return 2;
}

int Run(int argc, char** argv) {
    if (argc < 3) return Usage("cvdrive OUTFILE COMMAND [options] [arguments]");
    const char* command = argv[2];
    Filter f;
    std::vector<const char*> args;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "-t" && hasValue) f.title = argv[++i];
        else if (a == "-ts" && hasValue) f.titlePart = argv[++i];
        else if (a == "-c" && hasValue) f.className = argv[++i];
        else if (a == "-s" && hasValue) f.childText = argv[++i];
        else if (a == "-p" && hasValue) f.pid = static_cast<DWORD>(Number(argv[++i]));
        else if (a == "-w" && hasValue) f.hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(Number(argv[++i])));
        else if (a == "-T" && hasValue) f.timeout = static_cast<DWORD>(Number(argv[++i]));
        else if (a == "-v") f.visibleOnly = true;
        else args.push_back(argv[i]);
    }
    std::string c = command;
    if (c == "path") return args.empty() ? Usage("path WHAT") : PrintPath(args[0]);
    if (c == "lnk") return args.empty() ? Usage("lnk PATH") : PrintShortcut(args[0]);
    if (c == "acl") return args.empty() ? Usage("acl PATH") : PrintAccessList(args[0]);
    if (c == "windows") {
        for (HWND w : FindAll(f)) Describe(w);
        return 0;
    }
    if (c == "gone") {
        DWORD start = GetTickCount();
        while (!FindAll(f).empty()) {
            if (GetTickCount() - start >= f.timeout) {
                std::fprintf(out, "still there\n");
                return 1;
            }
            Sleep(50);
        }
        std::fprintf(out, "gone\n");
        return 0;
    }
    HWND w = WaitFor(f);
    if (!w) {
        std::fprintf(out, "not found\n");
        return 1;
    }
    if (c == "wait") {
        Describe(w);
        return 0;
    }
    if (c == "texts") {
        PrintTexts(w);
        return 0;
    }
    if (c == "click" || c == "clickbm") {
        if (args.empty()) return Usage("click ID|TEXT");
        HWND button = FindControl(w, args[0]);
        if (!button) {
            std::fprintf(out, "error: no control %s\n", args[0]);
            return 2;
        }
        if (c == "clickbm") {
            PostMessageA(button, BM_CLICK, 0, 0);
        } else {
            int id = GetDlgCtrlID(button);
            PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
        }
        Describe(w);
        return 0;
    }
    if (c == "post" || c == "send") {
        if (args.empty()) return Usage("post MSG [W [L]]");
        UINT message = MessageId(args[0]);
        WPARAM wParam = args.size() > 1 ? static_cast<WPARAM>(Param(args[1])) : 0;
        LPARAM lParam = args.size() > 2 ? static_cast<LPARAM>(Param(args[2])) : 0;
        if (c == "post") {
            if (!PostMessageA(w, message, wParam, lParam)) {
                std::fprintf(out, "error: post failed %lu\n", GetLastError());
                return 2;
            }
            Describe(w);
            return 0;
        }
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(w, message, wParam, lParam, SMTO_ABORTIFHUNG, f.timeout, &result)) {
            std::fprintf(out, "error: send failed %lu\n", GetLastError());
            return 2;
        }
        std::fprintf(out, "result=%lld\n", static_cast<long long>(result));
        return 0;
    }
    if (c == "listview") {
        if (args.empty()) return Usage("listview ID");
        HWND list = FindControl(w, args[0]);
        if (!list) {
            std::fprintf(out, "error: no control %s\n", args[0]);
            return 2;
        }
        return PrintListView(list);
    }
    if (c == "answer") {
        if (args.empty()) return Usage("answer BUTTON");
        PrintTexts(w);
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(ButtonId(args[0]), BN_CLICKED), 0);
        return 0;
    }
    return Usage("unknown command");
}
}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2) out = std::fopen(argv[1], "w");
    if (!out) {
        std::fprintf(stderr, "cvdrive: cannot write the output file\n");
        return 2;
    }
    int rc = Run(argc, argv);
    std::fclose(out);
    return rc;
}
