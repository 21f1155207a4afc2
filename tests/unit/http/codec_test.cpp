// Base64, de-scrambling, MD5 and SHA-256: published vectors, round trips of
// random data, the capacity limits, and digests checked against coreutils'
// md5sum and sha256sum.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "http/codec.h"
#include "http/sha256.h"
#include "test_util.h"
#include "../../tier_servers.h"

namespace {

std::string Encode(const std::string& in, int alphabet = 0) {
    std::vector<char> out(4 * ((in.size() + 2) / 3) + 1);
    int n = IAD_Base64::encode(reinterpret_cast<const unsigned char*>(in.data()), int(in.size()), out.data(),
                               int(out.size()), alphabet);
    EXPECT_GE(n, 0);
    return std::string(out.data(), n < 0 ? 0 : n);
}

// Returns the decoded bytes, or "<-1>" on failure.
std::string Decode(const std::string& text, int alphabet = 0, int capacity = 1000) {
    std::vector<unsigned char> out(capacity + 1);
    int n = IAD_Base64::decode(text.data(), int(text.size()), out.data(), capacity, alphabet);
    if (n < 0) return "<-1>";
    return std::string(reinterpret_cast<char*>(out.data()), n);
}

std::string RandomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = char(rng() & 255);
    return s;
}

std::string Hex(const unsigned char* d, int n) {
    std::string s;
    char b[3];
    for (int i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", d[i]);
        s += b;
    }
    return s;
}

std::string Md5Hex(const std::string& data) {
    IAD_MD5 md5;
    md5.init();
    md5.update(data.data(), unsigned(data.size()));
    unsigned char d[16];
    md5.final(d);
    return Hex(d, 16);
}

}  // namespace

TEST(Base64, Rfc4648VectorsBothWays) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) {
        EXPECT_EQ(v.second, Encode(v.first)) << v.first;
        EXPECT_EQ(v.first, Decode(v.second)) << v.second;
    }
}

TEST(Base64, AlphabetsDifferOnlyIn62And63) {
    std::string bytes("\xfb\xff\xbf", 3);  // values 62, 63, 62, 63
    EXPECT_EQ("+/+/", Encode(bytes, 0));
    EXPECT_EQ("()()", Encode(bytes, 1));
    EXPECT_EQ(bytes, Decode("()()", 1));
    // Characters of the other alphabet are passed over, not decoded.
    EXPECT_EQ("foo", Decode("Zm(9)v", 0));
    EXPECT_EQ("foo", Decode("Z+m9/v", 1));
}

TEST(Base64, RandomRoundTripsInBothAlphabetsWithNoiseAnywhere) {
    std::mt19937 rng(1234);
    for (int alphabet = 0; alphabet < 2; ++alphabet) {
        const char* noise = alphabet == 0 ? " \r\n\t()*" : " \r\n\t+/*";
        for (int len = 0; len < 300; ++len) {
            std::string data = RandomBytes(rng, len);
            std::string enc = Encode(data, alphabet);
            ASSERT_EQ(4 * ((len + 2) / 3), int(enc.size()));
            ASSERT_EQ(data, Decode(enc, alphabet, len)) << "len " << len;
            std::string noisy;
            for (char c : enc) {
                while (rng() % 3 == 0) noisy += noise[rng() % 7];
                noisy += c;
            }
            noisy += "\r\n";
            ASSERT_EQ(data, Decode(noisy, alphabet, len)) << noisy;
        }
    }
}

TEST(Base64, EncodeCapacityIsExact) {
    const unsigned char bytes[7] = {1, 2, 3, 4, 5, 6, 7};
    char out[16];
    for (int count = 1; count <= 7; ++count) {
        int need = 4 * ((count + 2) / 3);
        EXPECT_EQ(need, IAD_Base64::encode(bytes, count, out, need, 0));
        EXPECT_EQ(-1, IAD_Base64::encode(bytes, count, out, need - 1, 0));
    }
    // The groups that fit stay written.
    std::memset(out, 0, sizeof out);
    EXPECT_EQ(-1, IAD_Base64::encode(reinterpret_cast<const unsigned char*>("foobar"), 6, out, 6, 0));
    EXPECT_EQ(std::string("Zm9v"), std::string(out, 4));
    EXPECT_EQ(0, out[4]);
}

TEST(Base64, PaddingInEachPlace) {
    // Third or fourth place: the group ends, decoding goes on.
    EXPECT_EQ("f", Decode("Zg=="));
    EXPECT_EQ("ffo", Decode("Zg==Zm8="));
    EXPECT_EQ("fofo", Decode("Zm8=Zm8="));
    EXPECT_EQ("f", Decode("Zg=A"));  // "=" third: the fourth is read but unused
    // First or second place: no byte, and the rest is ignored, but the group
    // itself needs its four characters.
    EXPECT_EQ("foo", Decode("Zm9v=AAAZm9v"));
    EXPECT_EQ("foo", Decode("Zm9vA=AAgarbage*"));
    EXPECT_EQ("<-1>", Decode("Zm9v=AA"));
    EXPECT_EQ("<-1>", Decode("Zm9vA="));
}

TEST(Base64, IncompleteGroupsAndFullOutputFail) {
    EXPECT_EQ("<-1>", Decode("Zm9vYm"));
    EXPECT_EQ("<-1>", Decode("Zm9vYm\r\n\r\n"));
    EXPECT_EQ("<-1>", Decode("Z"));
    EXPECT_EQ("", Decode(" \r\n"));
    // Capacity: exactly enough works, one byte less fails.
    EXPECT_EQ("foobar", Decode("Zm9vYmFy", 0, 6));
    EXPECT_EQ("<-1>", Decode("Zm9vYmFy", 0, 5));
    EXPECT_EQ("<-1>", Decode("Zm9vYg==", 0, 3));
    EXPECT_EQ("<-1>", Decode("Zg==", 0, 0));
}

TEST(Descramble, UndoesScrambleForAllKeysRotationsAndSubtrahends) {
    std::mt19937 rng(7);
    for (unsigned rotation = 0; rotation < 8; ++rotation) {
        for (unsigned sub = 0; sub < 32; sub += 3) {
            std::string plain = RandomBytes(rng, rng() % 40);
            unsigned key = rng() & 255;
            char text[200];
            int n = scramble(reinterpret_cast<const unsigned char*>(plain.data()), int(plain.size()), key, rotation,
                             sub, text, sizeof text);
            ASSERT_GT(n, 0);
            unsigned char out[100];
            int plainLength = -5;
            ASSERT_EQ(1, descramble(text, n, out, int(plain.size()) + 4, &plainLength));
            ASSERT_EQ(int(plain.size()), plainLength);
            EXPECT_EQ(plain, std::string(reinterpret_cast<char*>(out), plainLength));
        }
    }
}

TEST(Descramble, KnownTextAndFailures) {
    // Header: key 0x41, rotation 3, subtrahend 5; hand-computed body of "pw".
    // p ^ key+i, + 5, rotate left 3: 'p'^0x41=0x31 -> 0x36 -> 0xb1;
    //                               'w'^0x42=0x35 -> 0x3a -> 0xd1.
    const unsigned char raw[6] = {0x41, 3 | (5 << 3), 0, 0, 0xb1, 0xd1};
    char text[16];
    int n = IAD_Base64::encode(raw, 6, text, sizeof text, 1);
    unsigned char out[16];
    int len = 0;
    ASSERT_EQ(1, descramble(text, n, out, sizeof out, &len));
    EXPECT_EQ("pw", std::string(reinterpret_cast<char*>(out), len));
    // The capacity counts the header too.
    EXPECT_EQ(0, descramble(text, n, out, 5, &len));
    EXPECT_EQ(1, descramble(text, n, out, 6, &len));
    // Bad Base64, and texts shorter than the header.
    EXPECT_EQ(0, descramble("QUJD", 4, out, sizeof out, &len)) << "3 bytes: no room for a header";
    EXPECT_EQ(0, descramble("QUJ", 3, out, sizeof out, &len));
    EXPECT_EQ(0, descramble("", 0, out, sizeof out, &len));
    len = 99;
    EXPECT_EQ(1, descramble("QUJDRA==", 8, out, sizeof out, &len));
    EXPECT_EQ(0, len);
}

TEST(Descramble, TextsMadeByThePackTool) {
    std::string tool = cvtest::BinDir() + "/cvpack";
    CV_REQUIRE_TIER(cvtest::FileExists(tool), "the native cvpack");
    const char* plains[] = {"secret", "p@ss:w0rd with blanks", "x", ""};
    for (const char* plain : plains) {
        for (int seed = 0; seed < 6; ++seed) {
            std::string cmd = tool + " scramble '" + plain + "'" + (seed ? " --seed " + std::to_string(seed) : "");
            std::string text = cvtest::RunCapture(cmd);
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            ASSERT_FALSE(text.empty()) << cmd;
            unsigned char out[100];
            int len = -1;
            ASSERT_EQ(1, descramble(text.data(), int(text.size()), out, sizeof out, &len)) << text;
            EXPECT_EQ(plain, std::string(reinterpret_cast<char*>(out), len)) << text;
        }
    }
    // The same seed gives the same text; no seed gives varying texts.
    std::string a = cvtest::RunCapture(tool + " scramble abc --seed 9");
    EXPECT_EQ(a, cvtest::RunCapture(tool + " scramble abc --seed 9"));
}

TEST(Md5, Rfc1321Suite) {
    const std::pair<const char*, const char*> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"}};
    for (auto& v : suite) EXPECT_EQ(v.second, Md5Hex(v.first)) << v.first;
}

TEST(Md5, Sum32AndReuseAfterFinal) {
    IAD_MD5 md5;
    md5.init();
    EXPECT_EQ(0xD98C1DD4u, md5.sum32());
    md5.update("abc", 3);
    uint32_t s = md5.sum32();
    EXPECT_EQ(0x98500190u, s);
    EXPECT_EQ(-1739587184, int32_t(s));
    // After final the context starts anew: the second digest is of "a" alone.
    md5.update("zzz", 3);
    unsigned char d[16];
    md5.final(d);
    md5.update("a", 1);
    md5.final(d);
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Hex(d, 16));
}

// Both digests of the same random data, fed in uneven pieces so that the
// block buffering is exercised, against the coreutils tools; SHA-256 takes
// the processor's instructions and the portable rounds in turn.
TEST(Digests, RandomDataAgainstCoreutilsInUnevenPieces) {
    std::string dir = cvtest::TempDir("md5");
    std::mt19937 rng(99);
    std::map<std::string, std::string> md5Expected, shaExpected;
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 200; ++n) lengths.push_back(n);
    lengths.push_back(3 * 1024 * 1024 + 17);
    lengths.push_back(1024 * 1024);
    for (size_t n : lengths) {
        std::string data = RandomBytes(rng, n);
        std::string path = dir + "/d" + std::to_string(n);
        cvtest::WriteFile(path, data);
        IAD_MD5 md5;
        md5.init();
        Sha256SetAcceleration(n % 2 == 0);
        Sha256 sha;
        size_t at = 0;
        while (at < data.size()) {
            size_t piece = std::min<size_t>(data.size() - at, 1 + rng() % (n > 10000 ? 70000 : 150));
            md5.update(data.data() + at, unsigned(piece));
            sha.update(data.data() + at, piece);
            at += piece;
        }
        unsigned char d[32];
        md5.final(d);
        md5Expected[path] = Hex(d, 16);
        sha.final(d);
        shaExpected[path] = Hex(d, 32);
    }
    Sha256SetAcceleration(true);
    for (auto* tool : {"md5sum", "sha256sum"}) {
        auto& expected = std::string(tool) == "md5sum" ? md5Expected : shaExpected;
        const size_t digits = std::string(tool) == "md5sum" ? 32 : 64;
        std::string out = cvtest::RunCapture(std::string("cd ") + dir + " && " + tool + " " + dir + "/d*");
        int checked = 0;
        size_t pos = 0;
        while (pos < out.size()) {
            size_t nl = out.find('\n', pos);
            std::string line = out.substr(pos, nl - pos);
            pos = nl == std::string::npos ? out.size() : nl + 1;
            if (line.size() < digits + 3) continue;
            std::string sum = line.substr(0, digits), path = line.substr(digits + 2);
            ASSERT_TRUE(expected.count(path)) << path;
            EXPECT_EQ(sum, expected[path]) << tool << " " << path;
            ++checked;
        }
        EXPECT_EQ(int(lengths.size()), checked) << tool;
    }
    cvtest::RemoveTree(dir);
}

TEST(Sha256Test, PublishedVectorsWithAndWithoutTheProcessorsInstructions) {
    const std::pair<std::string, const char*> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmn"
         "opqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (bool accelerated : {true, false}) {
        Sha256SetAcceleration(accelerated);
        for (auto& v : vectors) {
            unsigned char d[kSha256Size];
            Sha256Of(v.first.data(), v.first.size(), d);
            char hex[kSha256HexLength + 1];
            Sha256Hex(d, hex);
            EXPECT_EQ(v.second, std::string(hex)) << v.first.size() << " bytes, accelerated " << accelerated;
        }
        // After final the context starts anew: the second digest is of "abc" alone.
        Sha256 sha;
        sha.update("zzz", 3);
        unsigned char d[kSha256Size];
        sha.final(d);
        sha.update("abc", 3);
        sha.final(d);
        EXPECT_EQ(vectors[1].second, Hex(d, kSha256Size));
    }
    Sha256SetAcceleration(true);
}

TEST(Sha256Test, HexFormIsExactlySixtyFourDigits) {
    const std::string good = "BA7816BF8F01CFEA414140DE5DAE2223b00361a396177a9cb410ff61f20015ad";
    unsigned char d[kSha256Size] = {};
    ASSERT_EQ(1, ParseSha256Hex(good.c_str(), d));
    char hex[kSha256HexLength + 1];
    Sha256Hex(d, hex);
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", std::string(hex));
    for (const std::string& bad : {good.substr(0, 63), good + "0", good.substr(0, 63) + "g", " " + good,
                                   good.substr(0, 10), std::string()}) {
        unsigned char untouched[kSha256Size];
        std::memset(untouched, 0x5a, sizeof untouched);
        EXPECT_EQ(0, ParseSha256Hex(bad.c_str(), untouched)) << bad;
        EXPECT_EQ(0x5a, untouched[0]);
    }
    EXPECT_EQ(0, ParseSha256Hex(nullptr, d));
}
