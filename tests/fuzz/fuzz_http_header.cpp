// Fuzzes the parser of a response's header block: any bytes as the first
// block of a response. The fields stay terminated within their sizes and the
// header length within the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "http/http_client.h"
#include "http/http_message.h"
#include "http/http_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > size_t(IAD_HTTPClient::kHeaderBlock)) size = IAD_HTTPClient::kHeaderBlock;
    // An exact-size copy, so reading past the bytes is caught.
    std::vector<char> bytes(data, data + size);
    IAD_HTTPHeader h;
    h.clear();
    int r = h.parse(bytes.data(), int(size));
    if (r == -1 && h.status != 1) __builtin_trap();
    if (r == 0 && (h.header_length < 2 || h.header_length > int(size))) __builtin_trap();
    if (std::memchr(h.location, 0, sizeof h.location) == nullptr) __builtin_trap();
    if (std::memchr(h.content_type, 0, sizeof h.content_type) == nullptr) __builtin_trap();
    return 0;
}
