// Fuzzes the URL text parser and the request built from it: any text as the
// target and, after a NUL, as the proxy. The request must fit its buffer and
// its length must match the text written. User information and port come
// only from the authority (tests/fuzz/dicts/url.dict gives the tokens).
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
    size_t slash = rest.find('/');
    if ((slash == std::string::npos) != (url.path == nullptr)) __builtin_trap();
    if (url.path && rest.substr(slash) != url.path) __builtin_trap();
    if (std::strchr(url.host, '/') || std::strchr(url.host, '@') || std::strchr(url.host, ':')) __builtin_trap();
    if (std::string(url.host).size() > rest.size()) __builtin_trap();
    IAD_URL other(proxy.c_str());
    // Never from https down to http, whatever the texts.
    if (url.secure && !other.secure && RedirectAllowed(url, other)) __builtin_trap();
    if (!url.secure && !RedirectAllowed(url, other)) __builtin_trap();
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
