// Record-boundary bookkeeping of a TLS byte stream: where whole records end
// in what has been received, and one buffer that holds the decrypted bytes
// still to be read in front of the encrypted bytes still to be decrypted.
// Knowing the boundaries here lets the decrypting side call its (dear)
// decrypt step once per whole record and never on a record that is still
// incomplete. Portable code.
#pragma once

// A record header: content type, version (2 bytes), length (2 bytes).
const int kTlsRecordHeader = 5;
// The largest record a peer may send: 2^14 bytes of content plus 2048 of
// expansion, and the header.
const int kTlsMaxRecord = 16384 + 2048 + kTlsRecordHeader;

// Length of the first record in bytes[0, count), header included, when all
// of it is there; 0 when more bytes are needed to know or to have it; -1
// when the bytes cannot be the start of a TLS record.
int TlsRecordLength(const unsigned char* bytes, int count);

// Layout of the buffer, from its start:
//   [plainRead, plainEnd)      decrypted bytes not yet taken
//   [plainEnd, cipherStart)    unused (what decryption made shorter)
//   [cipherStart, cipherEnd)   received bytes not yet decrypted
//   [cipherEnd, capacity)      room for the next receive
// Decrypted bytes of a record always move down to plainEnd, which never
// passes cipherStart, so nothing is ever written past what was read.
class TlsReadBuffer {
public:
    TlsReadBuffer();
    ~TlsReadBuffer();
    TlsReadBuffer(const TlsReadBuffer&) = delete;
    TlsReadBuffer& operator=(const TlsReadBuffer&) = delete;

    // false when memory is missing; capacity below kTlsMaxRecord is raised
    // to it so that any record fits.
    bool Init(int capacity);

    // Room for a receive; makes room first by moving the undecrypted bytes
    // to the front when no decrypted byte is waiting.
    char* RecvSpace();
    int RecvRoom() const { return capacity - cipherEnd; }
    void Received(int count);
    // Puts bytes in as if received (what a handshake read beyond its end);
    // false when they do not fit.
    bool Append(const char* bytes, int count);

    // The undecrypted bytes and their count.
    unsigned char* Cipher() { return reinterpret_cast<unsigned char*>(data + cipherStart); }
    int CipherCount() const { return cipherEnd - cipherStart; }
    // Length of the whole record at Cipher(), as TlsRecordLength.
    int WholeRecord() const;

    // The record of `consumed` bytes at Cipher() was decrypted in place and
    // its content is at [plain, plain + plainCount) inside that record:
    // the content moves to the decrypted bytes and the record is gone.
    // false (and nothing changed) when the range lies outside the record.
    bool RecordDecrypted(const char* plain, int plainCount, int consumed);
    // The first `consumed` undecrypted bytes are gone without content (a
    // handshake or alert record handed elsewhere).
    void DropCipher(int consumed);

    int PlainCount() const { return plainEnd - plainRead; }
    // Copies up to `size` decrypted bytes out; the count copied.
    int TakePlain(char* out, int size);

private:
    void Compact();

    char* data;
    int capacity;
    int plainRead;
    int plainEnd;
    int cipherStart;
    int cipherEnd;
};
