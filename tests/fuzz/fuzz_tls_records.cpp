// Fuzzes the TLS record bookkeeping: the input is both the byte stream and,
// in its first bytes, the sizes of the receives that bring it in. Every
// whole record is "decrypted" as its content; what comes out must be the
// contents in order, and nothing may be read or written out of bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http/tls_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    int sizes[4];
    for (int i = 0; i < 4; ++i) sizes[i] = 1 + data[i] * 97;
    const uint8_t* stream = data + 4;
    size_t count = size - 4;

    // The expected content: records as the scanner reads them, to the first
    // one that is not a record.
    std::string expected;
    size_t at = 0;
    for (;;) {
        int n = TlsRecordLength(stream + at, int(count - at));
        if (n <= 0) break;
        expected.append(reinterpret_cast<const char*>(stream + at + kTlsRecordHeader), size_t(n - kTlsRecordHeader));
        at += size_t(n);
    }

    TlsReadBuffer buffer;
    if (!buffer.Init(int(count % 70000))) return 0;
    std::string out;
    size_t fed = 0;
    int turn = 0;
    char piece[777];
    for (;;) {
        if (buffer.PlainCount() > 0) {
            int n = buffer.TakePlain(piece, int(sizeof piece) - turn % 700);
            out.append(piece, size_t(n));
            continue;
        }
        int whole;
        while ((whole = buffer.WholeRecord()) > 0) {
            const char* content = reinterpret_cast<const char*>(buffer.Cipher()) + kTlsRecordHeader;
            if (!buffer.RecordDecrypted(content, whole - kTlsRecordHeader, whole)) std::abort();
        }
        if (buffer.PlainCount() > 0) continue;
        if (whole < 0 || fed == count) break;
        char* space = buffer.RecvSpace();
        int room = buffer.RecvRoom();
        if (room <= 0) std::abort();  // a whole record always fits
        int n = sizes[turn++ % 4];
        if (n > room) n = room;
        if (size_t(n) > count - fed) n = int(count - fed);
        std::memcpy(space, stream + fed, size_t(n));
        buffer.Received(n);
        fed += size_t(n);
    }
    if (out != expected) std::abort();
    return 0;
}
