// Browser proxy discovery over the current user's registry and the
// preferences file of the browser profile, and the intranet names of the
// Internet settings. The text rules live in proxy_rules.cpp; this file only
// reads the registry and the file.
#include "download/proxy_discovery_win.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "base/system_dll_win.h"
#include "download/line_file.h"
#include "download/proxy_rules.h"

namespace {
const char kNavigatorKey[] = "Software\\Netscape\\Netscape Navigator";

// A registry key of the current user opened for reading, closed on scope end.
class ReadKey {
public:
    explicit ReadKey(const char* path, HKEY root = HKEY_CURRENT_USER) : key(nullptr) {
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) key = nullptr;
    }
    ~ReadKey() {
        if (key) RegCloseKey(key);
    }
    ReadKey(const ReadKey&) = delete;
    ReadKey& operator=(const ReadKey&) = delete;
    bool IsOpen() const { return key != nullptr; }

    // Reads a value as text whatever its type; a number becomes decimal
    // text. The buffer always ends with a terminator.
    bool ReadText(const char* name, char* out, int size) const {
        if (!key || size <= 0) return false;
        BYTE data[1024];
        DWORD type = 0;
        DWORD length = sizeof data;
        if (RegQueryValueExA(key, name, nullptr, &type, data, &length) != ERROR_SUCCESS) return false;
        if (type == REG_DWORD && length == 4) {
            DWORD number;
            memcpy(&number, data, 4);
            std::snprintf(out, size, "%lu", static_cast<unsigned long>(number));
            return true;
        }
        // At most size - 1 bytes, so that the terminator always fits.
        DWORD n = length < static_cast<DWORD>(size - 1) ? length : static_cast<DWORD>(size - 1);
        memcpy(out, data, n);
        out[n] = 0;
        return true;
    }

    // Reads a value into a 4-byte number that starts at 0; true when it was
    // read and its type is one of the two given.
    bool ReadFlag(const char* name, DWORD typeA, DWORD typeB, DWORD* number) const {
        *number = 0;
        if (!key) return false;
        DWORD type = 0;
        DWORD length = sizeof *number;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(number), &length) != ERROR_SUCCESS)
            return false;
        return type == typeA || type == typeB;
    }

    // The name of subkey `index`; false past the last one.
    bool SubkeyName(DWORD index, char* out, DWORD size) const {
        return key && RegEnumKeyExA(key, index, out, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    // A site's zone: its "http" value, else its "*" value; -1 when neither.
    int Zone() const {
        for (const char* name : {"http", "*"}) {
            DWORD zone = 0;
            if (ReadFlag(name, REG_DWORD, REG_DWORD, &zone)) return static_cast<int>(zone);
        }
        return -1;
    }

private:
    HKEY key;
};

void JoinKey(char* out, int size, const char* leaf) {
    std::snprintf(out, size, "%s\\%s", kNavigatorKey, leaf);
}

// The preferences file of the profile; 1 when it names an address.
int FromPrefsFile(const char* profile, char* address, int addressSize, char* port, int portSize) {
    char path[260];
    JoinKey(path, sizeof path, "Main");
    char directory[261] = "";
    {
        ReadKey main(path);
        if (!main.ReadText("Install Directory", directory, sizeof directory - 1)) return 0;
    }
    char prefs[260];
    if (!PrefsFilePath(directory, profile, prefs, sizeof prefs)) return 0;
    FILE* f = std::fopen(prefs, "rt");
    if (!f) return 0;
    char line[259];
    int found = 0;
    while (std::fgets(line, sizeof line, f)) ReadPrefsLine(line, address, addressSize, &found, port, portSize);
    std::fclose(f);
    return found;
}
}  // namespace

int DiscoverBrowserProxy(char* address, int addressSize, char* port, int portSize) {
    char path[260];

    // 1. The browser profile in use.
    char profile[261] = "default";
    JoinKey(path, sizeof path, "biff");
    {
        ReadKey biff(path);
        if (biff.IsOpen() && !biff.ReadText("CurrentUser", profile, sizeof profile - 1)) profile[0] = 0;
    }

    // 2. The profile's preferences file.
    if (profile[0] && FromPrefsFile(profile, address, addressSize, port, portSize)) return 1;

    // 3. The browser's own registry settings.
    JoinKey(path, sizeof path, "Proxy Information");
    {
        ReadKey info(path);
        DWORD type = 0;
        if (info.ReadFlag("Proxy Type", REG_BINARY, REG_BINARY, &type) && type == 1) {
            if (!info.ReadText("HTTP_Proxy", address, addressSize)) return 0;
            if (!info.ReadText("HTTP_ProxyPort", port, portSize)) return 0;
            StripHttpPrefix(address);
            return 1;
        }
    }

    // 4. The system's Internet settings.
    ReadKey internet("Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
    DWORD enabled = 0;
    if (!internet.ReadFlag("ProxyEnable", REG_BINARY, REG_DWORD, &enabled) || enabled != 1) return 0;
    if (!internet.ReadText("ProxyServer", address, addressSize)) return 0;
    if (!PickHttpProxyEntry(address)) return 0;
    SplitProxyServer(address, port, portSize);
    return 1;
}

namespace {
const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const int kIntranetZone = 1;

// Adds a name only whole: a cut pattern ("*.corp.ex" of "*.corp.example",
// or a lone "*") would make other hosts intranet.
void AddName(char* out, int size, const char* name, size_t length) {
    size_t used = std::strlen(out);
    if (length == 0 || used + 1 + length >= static_cast<size_t>(size)) return;
    if (used) out[used++] = ';';
    std::memcpy(out + used, name, length);
    out[used + length] = 0;
}

void AddName(char* out, int size, const char* name) { AddName(out, size, name, std::strlen(name)); }

// The bypass list, each entry added whole.
void AddBypassList(char* out, int size) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    DWORD type = 0, length = 0;
    if (RegQueryValueExA(key, "ProxyOverride", nullptr, &type, nullptr, &length) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && length > 0 && length < 65536) {
        char* list = static_cast<char*>(std::malloc(length + 1));
        if (list && RegQueryValueExA(key, "ProxyOverride", nullptr, &type, reinterpret_cast<BYTE*>(list), &length) ==
                        ERROR_SUCCESS) {
            list[length] = 0;
            for (const char* p = list; *p;) {
                const char* end = std::strchr(p, ';');
                if (!end) end = p + std::strlen(p);
                AddName(out, size, p, static_cast<size_t>(end - p));
                p = *end ? end + 1 : end;
            }
        }
        std::free(list);
    }
    RegCloseKey(key);
}

// The sites of the zone map mapped to the intranet zone: a domain key
// "example.com" stands for the domain and every name under it, a host key
// below it ("proxy", "*") for that name in the domain.
void IntranetSites(HKEY root, char* out, int size) {
    char path[400];
    std::snprintf(path, sizeof path, "%s\\ZoneMap\\Domains", kInternetSettings);
    ReadKey domains(path, root);
    char domain[256];
    for (DWORD i = 0; domains.SubkeyName(i, domain, sizeof domain); ++i) {
        char domainPath[700];
        std::snprintf(domainPath, sizeof domainPath, "%s\\%s", path, domain);
        ReadKey site(domainPath, root);
        char name[520];
        if (site.Zone() == kIntranetZone) {
            AddName(out, size, domain);
            std::snprintf(name, sizeof name, "*.%s", domain);
            AddName(out, size, name);
        }
        char host[256];
        for (DWORD j = 0; site.SubkeyName(j, host, sizeof host); ++j) {
            char hostPath[1000];
            std::snprintf(hostPath, sizeof hostPath, "%s\\%s", domainPath, host);
            ReadKey hostKey(hostPath, root);
            if (hostKey.Zone() != kIntranetZone) continue;
            std::snprintf(name, sizeof name, "%s.%s", host, domain);
            AddName(out, size, name);
        }
    }
}
}  // namespace

void IntranetNames(char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    AddBypassList(out, size);
    IntranetSites(HKEY_CURRENT_USER, out, size);
    IntranetSites(HKEY_LOCAL_MACHINE, out, size);
}

int DiscoverMachineProxy(char* address, int addressSize, char* port, int portSize) {
    if (addressSize > 0) address[0] = 0;
    if (portSize > 0) port[0] = 0;
    typedef BOOL(WINAPI * DefaultProxyFn)(WINHTTP_PROXY_INFO*);
    DefaultProxyFn get = reinterpret_cast<DefaultProxyFn>(
        SystemProcedure("winhttp.dll", "WinHttpGetDefaultProxyConfiguration"));
    if (!get) return 0;
    WINHTTP_PROXY_INFO info = {};
    if (!get(&info)) return 0;
    int found = 0;
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) {
        // A list longer than this is no proxy setting anyone made; cut, it
        // could name another host, so it is not used.
        char list[1024];
        int n = WideCharToMultiByte(CP_UTF8, 0, info.lpszProxy, -1, list, sizeof list, nullptr, nullptr);
        if (n > 0) found = PickMachineProxy(list, address, addressSize, port, portSize) ? 1 : 0;
    }
    if (info.lpszProxy) GlobalFree(info.lpszProxy);
    if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
    return found;
}

bool RunsAsSystemAccount() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    // A token user is a SID of at most 68 bytes after its header.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD length = 0;
    bool system = false;
    // Built and compared by hand: the well-known SID helpers are missing
    // from the older systems the program still starts on.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID localSystem = nullptr;
    if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &length) &&
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &localSystem)) {
        system = EqualSid(buffer.user.User.Sid, localSystem) != FALSE;
        FreeSid(localSystem);
    }
    CloseHandle(token);
    return system;
}
