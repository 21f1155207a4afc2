// Proxy auto-configuration through the system's WinHTTP: asks a
// configuration script, or the network's automatic detection, which proxies
// reach an address. The lookup has no time-out of its own, so it runs on a
// thread of its own and is given up after a bound.
#pragma once
#include <windows.h>

#include "download/pac_rules.h"

// What a lookup came to.
struct PacLookupResult {
    int answered;       // 1: the script gave an answer, in `answer`
    DWORD error;        // the system's error number when it did not
    int timedOut;       // 1: given up after the bound
    char answer[2048];  // "host:port;host2:port" or "DIRECT", cut to fit
};

// Asks the script at `scriptUrl` (null: automatic detection) about `url`.
// Waits at most `timeoutMs`, and returns early when *cancel becomes
// non-zero. An abandoned lookup finishes on its own later and frees its
// own state. Returns result->answered.
int LookupProxyWithScript(const char* scriptUrl, const char* url, int timeoutMs, volatile LONG* cancel,
                          PacLookupResult* result);

// The browser's own auto-configuration: its script address ("AutoConfigURL"
// under the current user's Internet settings, read directly, or the one the
// system's proxy configuration names) and whether it asks for automatic
// detection.
void BrowserAutoConfig(char* scriptUrl, int size, int* autoDetect);

// Which script gave the proxies.
enum PacSource { PacFromNone, PacFromSetup, PacFromBrowser, PacFromDetection };

// The proxies to try for `url`, from the first source that answers: the
// setup description's script `ownScript` (when not empty), the browser's
// script, then automatic detection when the browser asks for it. Each
// lookup is bounded by `timeoutMs`, and no script is fetched with the
// user's Windows login. Returns the number of entries written (0 when no
// script answered or none of its entries is usable) and, in *source, the
// script they came from.
int DiscoverScriptProxies(const char* ownScript, const char* url, int timeoutMs, volatile LONG* cancel,
                          PacEntry* entries, int capacity, PacSource* source);
