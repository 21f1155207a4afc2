// Fuzzes the URL text parser and the request built from it: any text as the
// target and, after a NUL, as the proxy (and as a reference resolved against
// the target). The request must fit its buffer and its length must match the
// text written. User information and port come only from the authority, and
// a URL built again from its parts parses to the same parts
// (tests/fuzz/dicts/url.dict gives the tokens).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <strings.h>
#include <string>

#include "http/http_client.h"
#include "http/http_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t nul = input.find('\0');
    std::string target = input.substr(0, nul);
    std::string proxy = nul == std::string::npos ? std::string() : input.substr(nul + 1);
    proxy = proxy.substr(0, proxy.find('\0'));

    IAD_URL url(target.c_str());
    if (!url.host) __builtin_trap();
    if (url.path && url.path[0] != '/') __builtin_trap();
    if (url.password && !url.user) __builtin_trap();
    // The path is the text from the first "/" after the prefix, whole: no
    // "@" or ":" in it moves the host, the port or the credentials.
    std::string rest = target.c_str();
    if (rest.size() >= 7 && strncasecmp(rest.c_str(), "http://", 7) == 0) rest = rest.substr(7);
    else if (rest.size() >= 8 && strncasecmp(rest.c_str(), "https://", 8) == 0) rest = rest.substr(8);
    else if (rest.size() >= 6 && strncasecmp(rest.c_str(), "ftp://", 6) == 0) rest = rest.substr(6);
    size_t slash = rest.find('/');
    if ((slash == std::string::npos) != (url.path == nullptr)) __builtin_trap();
    if (url.path && rest.substr(slash) != url.path) __builtin_trap();
    if (std::strchr(url.host, '/') || std::strchr(url.host, '@') || std::strchr(url.host, ':')) __builtin_trap();
    if (std::string(url.host).size() > rest.size()) __builtin_trap();
    IAD_URL other(proxy.c_str());
    // Never from https down to http, whatever the texts.
    if (url.secure && !other.secure && RedirectAllowed(url, other)) __builtin_trap();
    if (!url.secure && other.scheme != kUrlFtp && !RedirectAllowed(url, other)) __builtin_trap();
    // A refused port is never one in range.
    if (!url.valid && url.port != 0) __builtin_trap();
    // The proxy text as a reference found at the target: a path from the
    // root, and no scheme the reference brings but http or https.
    IAD_URL* resolved = ResolveReference(url, proxy.c_str());
    if (resolved) {
        if (!resolved->host || (resolved->path && resolved->path[0] != '/')) __builtin_trap();
        if (resolved->scheme == kUrlFtp && url.scheme != kUrlFtp) __builtin_trap();
        delete resolved;
    }
    // Built again from its parts, the URL parses to the same parts.
    char text[4096];
    if (FormatUrl(text, sizeof text, url, url.user, url.password, nullptr, nullptr)) {
        IAD_URL again(text);
        if (!again.valid || again.port != url.port || std::strcmp(again.host, url.host) != 0) __builtin_trap();
        if (url.user && (!again.user || std::strcmp(again.user, url.user) != 0)) __builtin_trap();
        if (url.user && (!again.password || std::strcmp(again.password, url.password ? url.password : "") != 0))
            __builtin_trap();
    }
    url.copy_credentials(other);

    IAD_HTTPClient client(0);
    if (client.set_urls(target.c_str(), proxy.c_str()) != 0) return 0;
    char request[IAD_HTTPClient::kRequestSize + 8];
    std::memset(request, 0x5a, sizeof request);
    int n = client.build_request(request, nullptr);
    for (size_t i = IAD_HTTPClient::kRequestSize; i < sizeof request; ++i)
        if (request[i] != 0x5a) __builtin_trap();
    if (n >= 0 && (n >= IAD_HTTPClient::kRequestSize || std::strlen(request) != size_t(n))) __builtin_trap();
    return 0;
}
