// Fuzzes the reading of a proxy's 407 answer: any bytes as its header
// block. Tokens stay terminated within their fields and hold only Base64
// text; the length and keep-alive readers stay within the bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "http/http_message.h"
#include "http/proxy_auth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 20000) size = 20000;
    std::vector<char> bytes(data, data + size);  // exact size: reads past it are caught
    ProxyChallenge c;
    std::memset(&c, 0x5a, sizeof c);
    ParseProxyChallenge(bytes.data(), int(size), &c);
    if (c.schemes & ~(kSchemeBasic | kSchemeNtlm | kSchemeNegotiate)) __builtin_trap();
    for (const char* token : {c.ntlmToken, c.negotiateToken}) {
        const void* end = std::memchr(token, 0, sizeof c.ntlmToken);
        if (!end) __builtin_trap();
        for (const char* p = token; *p; ++p)
            if (*p == ' ' || *p == '\r' || *p == '\n' || *p == ',') __builtin_trap();
    }
    long long n = HeaderContentLength(bytes.data(), int(size));
    if (n < -1) __builtin_trap();
    int k = HeaderKeepsConnection(bytes.data(), int(size));
    if (k != 0 && k != 1) __builtin_trap();
    char text[24];
    DescribeProxySchemes(c.schemes, text, sizeof text);
    if (!std::memchr(text, 0, sizeof text)) __builtin_trap();
    return 0;
}
