// Record boundaries of a TLS stream and the read buffer that keeps decrypted
// bytes in front of undecrypted ones: records split over receives of any
// size come out whole and in order, and nothing is written outside the
// buffer. "Decryption" here takes a record's content as it is, which is what
// the buffer sees of a real decryption in place.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "http/tls_records.h"

namespace {

std::string Record(unsigned char type, const std::string& content) {
    std::string r;
    r += char(type);
    r += char(3);
    r += char(3);
    r += char((content.size() >> 8) & 255);
    r += char(content.size() & 255);
    return r + content;
}

std::string Content(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 31 + seed) & 255);
    return s;
}

int Length(const std::string& bytes) {
    return TlsRecordLength(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
}

// Feeds `stream` in receives of the given sizes (cycled), decrypting every
// whole record before the next receive and taking the content out in reads
// of `readSize`; the content read, or "<error>".
std::string RunThrough(const std::string& stream, const std::vector<int>& receives, int readSize,
                       int capacity = 0) {
    TlsReadBuffer buffer;
    if (!buffer.Init(capacity)) return "<no memory>";
    std::string out;
    size_t fed = 0;
    size_t turn = 0;
    std::vector<char> piece(static_cast<size_t>(readSize));
    for (;;) {
        if (buffer.PlainCount() > 0) {
            int n = buffer.TakePlain(piece.data(), readSize);
            out.append(piece.data(), size_t(n));
            continue;
        }
        for (;;) {
            int whole = buffer.WholeRecord();
            if (whole < 0) return "<error>";
            if (whole == 0) break;
            const char* content = reinterpret_cast<const char*>(buffer.Cipher()) + kTlsRecordHeader;
            if (!buffer.RecordDecrypted(content, whole - kTlsRecordHeader, whole)) return "<error>";
        }
        if (buffer.PlainCount() > 0) continue;
        if (fed == stream.size()) return buffer.CipherCount() == 0 ? out : "<cut>";
        char* space = buffer.RecvSpace();
        int room = buffer.RecvRoom();
        if (room <= 0) return "<full>";
        int n = receives[turn++ % receives.size()];
        if (n > room) n = room;
        if (size_t(n) > stream.size() - fed) n = int(stream.size() - fed);
        std::memcpy(space, stream.data() + fed, size_t(n));
        buffer.Received(n);
        fed += size_t(n);
    }
}

}  // namespace

TEST(TlsRecords, LengthOfTheFirstRecord) {
    std::string r = Record(23, Content(300, 1));
    EXPECT_EQ(305, Length(r));
    EXPECT_EQ(305, Length(r + "tail"));
    for (size_t cut = 0; cut < r.size(); ++cut) EXPECT_EQ(0, Length(r.substr(0, cut))) << cut;
    EXPECT_EQ(5, Length(Record(21, "")));
    // Not a record: unknown content type, another major version, too long.
    EXPECT_EQ(-1, Length(Record(19, "x")));
    EXPECT_EQ(-1, Length(Record(25, "x")));
    std::string badVersion = r;
    badVersion[1] = 2;
    EXPECT_EQ(-1, Length(badVersion));
    EXPECT_EQ(-1, Length(std::string("\x17\x03\x03\x48\x01", 5)));
    EXPECT_EQ(0, Length(std::string("\x17\x03\x03\x48\x00", 5)));  // the largest allowed, incomplete
    EXPECT_EQ(-1, Length(std::string("GET / HTTP/1.0\r\n")));
}

TEST(TlsRecords, RecordsSplitAcrossAnyReceivesComeOutWholeAndInOrder) {
    std::string stream, expected;
    std::mt19937 rng(5);
    for (int i = 0; i < 40; ++i) {
        std::string c = Content(size_t(rng() % 16385), unsigned(i));
        stream += Record(23, c);
        expected += c;
    }
    stream += Record(23, Content(16384, 9));
    expected += Content(16384, 9);
    for (int size : {1, 7, 4096, 16413, 100000, 1 << 20}) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(RunThrough(stream, {size}, 65536) == expected);
    }
    EXPECT_TRUE(RunThrough(stream, {3, 20000, 1, 9999}, 13) == expected);
    // Small reads out of a large buffer, and the smallest buffer allowed.
    EXPECT_TRUE(RunThrough(stream, {1 << 20}, 1, 1 << 20) == expected);
    EXPECT_TRUE(RunThrough(stream, {100000}, 65536, 1) == expected);
}

TEST(TlsRecords, ACutRecordAndAForeignStreamAreTold) {
    std::string stream = Record(23, Content(1000, 1)) + Record(23, Content(1000, 2));
    EXPECT_EQ("<cut>", RunThrough(stream.substr(0, stream.size() - 1), {7}, 100));
    EXPECT_EQ("<cut>", RunThrough(stream.substr(0, 1003), {7}, 100));
    EXPECT_EQ("<error>", RunThrough(stream + "HTTP/1.0 200 OK\r\n", {4096}, 100));
}

TEST(TlsRecords, DecryptedRangesOutsideTheRecordAreRefused) {
    TlsReadBuffer buffer;
    ASSERT_TRUE(buffer.Init(0));
    std::string r = Record(23, "abcdef");
    ASSERT_TRUE(buffer.Append(r.data(), int(r.size())));
    const char* begin = reinterpret_cast<const char*>(buffer.Cipher());
    EXPECT_FALSE(buffer.RecordDecrypted(begin - 1, 3, int(r.size())));
    EXPECT_FALSE(buffer.RecordDecrypted(begin + 5, 7, int(r.size())));
    EXPECT_FALSE(buffer.RecordDecrypted(begin + 5, 6, int(r.size()) + 1));
    EXPECT_FALSE(buffer.RecordDecrypted(begin + 5, 6, 0));
    EXPECT_EQ(int(r.size()), buffer.CipherCount());
    EXPECT_TRUE(buffer.RecordDecrypted(begin + 5, 6, int(r.size())));
    char out[16];
    EXPECT_EQ(6, buffer.TakePlain(out, sizeof out));
    EXPECT_EQ("abcdef", std::string(out, 6));
    EXPECT_EQ(0, buffer.CipherCount());
    // A record with no content (an alert handed elsewhere) just goes.
    ASSERT_TRUE(buffer.Append(r.data(), int(r.size())));
    buffer.DropCipher(1000);
    EXPECT_EQ(0, buffer.CipherCount());
    EXPECT_EQ(0, buffer.PlainCount());
}

TEST(TlsRecords, AppendBeyondTheRoomIsRefused) {
    TlsReadBuffer buffer;
    ASSERT_TRUE(buffer.Init(0));
    std::string big(size_t(kTlsMaxRecord) + 1, 'x');
    EXPECT_FALSE(buffer.Append(big.data(), int(big.size())));
    EXPECT_TRUE(buffer.Append(big.data(), kTlsMaxRecord));
    EXPECT_EQ(0, buffer.RecvRoom());
    buffer.Received(5);  // more than the room: ignored
    EXPECT_EQ(kTlsMaxRecord, buffer.CipherCount());
}
