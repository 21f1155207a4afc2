// Proxy auto-configuration through WinHTTP, loaded from the system folder at
// run time so that the program still starts where the DLL is missing.
#include "download/pac_lookup_win.h"

#include <winhttp.h>

#include <cstring>
#include <new>

#include "base/text_copy.h"
#include "base/system_dll_win.h"

namespace {
typedef HINTERNET(WINAPI* OpenFn)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
typedef BOOL(WINAPI* CloseFn)(HINTERNET);
typedef BOOL(WINAPI* ProxyForUrlFn)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*);
typedef BOOL(WINAPI* IeConfigFn)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*);

struct WinHttp {
    bool loaded;
    OpenFn open;
    CloseFn close;
    ProxyForUrlFn proxyForUrl;
    IeConfigFn ieConfig;
};

// Loaded once and never freed: a lookup that was given up may still be
// running inside the DLL.
const WinHttp& Api() {
    static WinHttp api = [] {
        WinHttp a = {};
        HMODULE module = LoadSystemLibrary("winhttp.dll");
        if (!module) return a;
        a.open = reinterpret_cast<OpenFn>(GetProcAddress(module, "WinHttpOpen"));
        a.close = reinterpret_cast<CloseFn>(GetProcAddress(module, "WinHttpCloseHandle"));
        a.proxyForUrl = reinterpret_cast<ProxyForUrlFn>(GetProcAddress(module, "WinHttpGetProxyForUrl"));
        a.ieConfig = reinterpret_cast<IeConfigFn>(GetProcAddress(module, "WinHttpGetIEProxyConfigForCurrentUser"));
        a.loaded = a.open && a.close && a.proxyForUrl;
        return a;
    }();
    return api;
}

void ToWide(const char* text, wchar_t* out, int count) {
    out[0] = 0;
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, out, count);
    if (n <= 0) out[0] = 0;
    out[count - 1] = 0;
}

void ToNarrow(const wchar_t* text, char* out, int size) {
    out[0] = 0;
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, out, size, nullptr, nullptr);
    if (n <= 0) {
        // Too long for the buffer: the entries that fit are still worth having.
        int length = static_cast<int>(wcslen(text));
        if (length > size - 1) length = size - 1;
        n = WideCharToMultiByte(CP_ACP, 0, text, length, out, size - 1, nullptr, nullptr);
        out[n > 0 ? n : 0] = 0;
    }
    out[size - 1] = 0;
}

// Shared by the caller and the lookup thread; the last one to let go frees it.
struct Lookup {
    volatile LONG references;
    wchar_t script[1100];
    wchar_t url[1400];
    int autoDetect;
    PacLookupResult result;
};

void Release(Lookup* lookup) {
    if (InterlockedDecrement(&lookup->references) == 0) delete lookup;
}

DWORD WINAPI LookupThread(LPVOID argument) {
    Lookup* lookup = static_cast<Lookup*>(argument);
    const WinHttp& api = Api();
    HINTERNET session = api.open(L"Corvane Lite Installer", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) {
        lookup->result.error = GetLastError();
    } else {
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        // Automatic detection and a script address in one call are refused
        // by some implementations; the caller asks for each on its own.
        if (lookup->autoDetect) {
            options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        } else {
            options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = lookup->script;
        }
        // The script is fetched without the user's Windows login: whoever
        // serves it (one found by automatic detection above all) gets no
        // token of the logged-on user.
        options.fAutoLogonIfChallenged = FALSE;
        WINHTTP_PROXY_INFO info = {};
        if (api.proxyForUrl(session, lookup->url, &options, &info)) {
            if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy && info.lpszProxy[0])
                ToNarrow(info.lpszProxy, lookup->result.answer, sizeof lookup->result.answer);
            else
                CopyTruncated(lookup->result.answer, sizeof lookup->result.answer, "DIRECT");
            lookup->result.answered = 1;
        } else {
            lookup->result.error = GetLastError();
        }
        if (info.lpszProxy) GlobalFree(info.lpszProxy);
        if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
        api.close(session);
    }
    Release(lookup);
    return 0;
}
}  // namespace

int LookupProxyWithScript(const char* scriptUrl, const char* url, int timeoutMs, volatile LONG* cancel,
                          PacLookupResult* result) {
    std::memset(result, 0, sizeof *result);
    if (!Api().loaded) {
        result->error = ERROR_PROC_NOT_FOUND;
        return 0;
    }
    Lookup* lookup = new (std::nothrow) Lookup();
    if (!lookup) return 0;
    lookup->references = 2;
    lookup->autoDetect = scriptUrl == nullptr;
    ToWide(scriptUrl ? scriptUrl : "", lookup->script, sizeof lookup->script / sizeof lookup->script[0]);
    ToWide(url, lookup->url, sizeof lookup->url / sizeof lookup->url[0]);
    HANDLE thread = CreateThread(nullptr, 0, LookupThread, lookup, 0, nullptr);
    if (!thread) {
        result->error = GetLastError();
        delete lookup;
        return 0;
    }
    // Waited for in slices, so that a stop of the transport is heard.
    DWORD started = GetTickCount();
    bool finished = false;
    for (;;) {
        DWORD spent = GetTickCount() - started;
        if (spent >= static_cast<DWORD>(timeoutMs)) break;
        DWORD slice = static_cast<DWORD>(timeoutMs) - spent;
        if (slice > 200) slice = 200;
        if (WaitForSingleObject(thread, slice) == WAIT_OBJECT_0) {
            finished = true;
            break;
        }
        if (cancel && *cancel) break;
    }
    CloseHandle(thread);
    if (finished) {
        *result = lookup->result;
    } else {
        result->timedOut = 1;
        result->error = ERROR_TIMEOUT;
    }
    Release(lookup);
    return result->answered;
}

void BrowserAutoConfig(char* scriptUrl, int size, int* autoDetect) {
    scriptUrl[0] = 0;
    *autoDetect = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_READ, &key) == ERROR_SUCCESS) {
        char value[1100];
        DWORD type = 0, length = sizeof value - 1;
        if (RegQueryValueExA(key, "AutoConfigURL", nullptr, &type, reinterpret_cast<BYTE*>(value), &length) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            value[length < sizeof value ? length : sizeof value - 1] = 0;
            CopyTruncated(scriptUrl, size, value);
        }
        DWORD flag = 0;
        length = sizeof flag;
        if (RegQueryValueExA(key, "AutoDetect", nullptr, &type, reinterpret_cast<BYTE*>(&flag), &length) ==
                ERROR_SUCCESS &&
            type == REG_DWORD && flag == 1)
            *autoDetect = 1;
        RegCloseKey(key);
    }
    // The system's own record of the browser settings (a binary blob it
    // keeps elsewhere) may name a script or ask for detection as well.
    const WinHttp& api = Api();
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (api.ieConfig && api.ieConfig(&config)) {
        if (config.fAutoDetect) *autoDetect = 1;
        if (!scriptUrl[0] && config.lpszAutoConfigUrl) ToNarrow(config.lpszAutoConfigUrl, scriptUrl, size);
    }
    if (config.lpszAutoConfigUrl) GlobalFree(config.lpszAutoConfigUrl);
    if (config.lpszProxy) GlobalFree(config.lpszProxy);
    if (config.lpszProxyBypass) GlobalFree(config.lpszProxyBypass);
}

int DiscoverScriptProxies(const char* ownScript, const char* url, int timeoutMs, volatile LONG* cancel,
                          PacEntry* entries, int capacity, PacSource* source) {
    *source = PacFromNone;
    char browserScript[1100];
    int autoDetect = 0;
    BrowserAutoConfig(browserScript, sizeof browserScript, &autoDetect);
    const char* own = ownScript && ownScript[0] ? ownScript : nullptr;
    // The same script twice would only double the wait for a dead server.
    bool same = own && lstrcmpiA(own, browserScript) == 0;
    const char* sources[3] = {own, browserScript[0] && !same ? browserScript : nullptr, nullptr};
    PacLookupResult result;
    for (int i = 0; i < 3; ++i) {
        if (cancel && *cancel) return 0;
        bool detect = i == 2;
        if (detect ? !autoDetect : !sources[i]) continue;
        // A script that fails (cannot be fetched, does not run, gives no
        // answer) counts as no proxy found; the next source is asked.
        if (!LookupProxyWithScript(detect ? nullptr : sources[i], url, timeoutMs, cancel, &result)) continue;
        int count = ParsePacAnswer(result.answer, entries, capacity);
        if (count > 0) {
            *source = detect ? PacFromDetection : i == 0 ? PacFromSetup : PacFromBrowser;
            return count;
        }
    }
    return 0;
}
