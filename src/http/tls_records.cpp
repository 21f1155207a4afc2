// TLS record boundaries and the read buffer of a TLS connection (see
// tls_records.h).
#include "http/tls_records.h"

#include <cstdlib>
#include <cstring>

int TlsRecordLength(const unsigned char* bytes, int count) {
    if (count < 1) return 0;
    // change_cipher_spec, alert, handshake, application_data, heartbeat
    if (bytes[0] < 20 || bytes[0] > 24) return -1;
    if (count < 2) return 0;
    if (bytes[1] != 3) return -1;
    if (count < kTlsRecordHeader) return 0;
    int length = (bytes[3] << 8) | bytes[4];
    if (length > kTlsMaxRecord - kTlsRecordHeader) return -1;
    int whole = kTlsRecordHeader + length;
    return count >= whole ? whole : 0;
}

TlsReadBuffer::TlsReadBuffer()
    : data(nullptr), capacity(0), plainRead(0), plainEnd(0), cipherStart(0), cipherEnd(0) {}

TlsReadBuffer::~TlsReadBuffer() { std::free(data); }

bool TlsReadBuffer::Init(int wanted) {
    if (wanted < kTlsMaxRecord) wanted = kTlsMaxRecord;
    char* fresh = static_cast<char*>(std::malloc(size_t(wanted)));
    if (!fresh) return false;
    std::free(data);
    data = fresh;
    capacity = wanted;
    plainRead = plainEnd = cipherStart = cipherEnd = 0;
    return true;
}

void TlsReadBuffer::Compact() {
    if (plainRead != plainEnd) return;
    plainRead = plainEnd = 0;
    if (cipherStart > 0) {
        std::memmove(data, data + cipherStart, size_t(cipherEnd - cipherStart));
        cipherEnd -= cipherStart;
        cipherStart = 0;
    }
}

char* TlsReadBuffer::RecvSpace() {
    Compact();
    return data + cipherEnd;
}

void TlsReadBuffer::Received(int count) {
    if (count > 0 && count <= capacity - cipherEnd) cipherEnd += count;
}

bool TlsReadBuffer::Append(const char* bytes, int count) {
    if (count <= 0) return true;
    Compact();
    if (count > capacity - cipherEnd) return false;
    std::memcpy(data + cipherEnd, bytes, size_t(count));
    cipherEnd += count;
    return true;
}

int TlsReadBuffer::WholeRecord() const {
    return TlsRecordLength(reinterpret_cast<const unsigned char*>(data + cipherStart), cipherEnd - cipherStart);
}

bool TlsReadBuffer::RecordDecrypted(const char* plain, int plainCount, int consumed) {
    if (consumed <= 0 || consumed > cipherEnd - cipherStart || plainCount < 0) return false;
    const char* recordBegin = data + cipherStart;
    const char* recordEnd = recordBegin + consumed;
    if (plainCount > 0 && (plain < recordBegin || plain > recordEnd || plainCount > recordEnd - plain))
        return false;
    if (plainCount > 0) std::memmove(data + plainEnd, plain, size_t(plainCount));
    plainEnd += plainCount;
    cipherStart += consumed;
    return true;
}

void TlsReadBuffer::DropCipher(int consumed) {
    if (consumed > cipherEnd - cipherStart) consumed = cipherEnd - cipherStart;
    if (consumed > 0) cipherStart += consumed;
}

int TlsReadBuffer::TakePlain(char* out, int size) {
    int n = plainEnd - plainRead;
    if (n > size) n = size;
    if (n <= 0) return 0;
    std::memcpy(out, data + plainRead, size_t(n));
    plainRead += n;
    Compact();
    return n;
}
