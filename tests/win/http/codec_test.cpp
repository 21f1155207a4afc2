// The codecs as built for Windows: published vectors, sums and a scramble
// round trip, so that the Windows build computes what the native one does.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "http/codec.h"

TEST(WinCodec, Base64VectorsAndMd5Suite) {
    const unsigned char foobar[] = "foobar";
    char out[16];
    ASSERT_EQ(8, IAD_Base64::encode(foobar, 6, out, sizeof out, 0));
    EXPECT_EQ("Zm9vYmFy", std::string(out, 8));
    unsigned char back[8];
    EXPECT_EQ(4, IAD_Base64::decode("Zm9v\r\nYg==", 10, back, sizeof back, 0));
    EXPECT_EQ("foob", std::string(reinterpret_cast<char*>(back), 4));

    IAD_MD5 md5;
    md5.init();
    EXPECT_EQ(0xD98C1DD4u, md5.sum32());
    md5.update("abc", 3);
    EXPECT_EQ(0x98500190u, md5.sum32());
    std::string million(1000000, 'a');
    md5.update(million.data(), unsigned(million.size()));
    unsigned char d[16];
    md5.final(d);
    const unsigned char want[16] = {0x77, 0x07, 0xd6, 0xae, 0x4e, 0x02, 0x7c, 0x70,
                                    0xee, 0xa2, 0xa9, 0x35, 0xc2, 0x29, 0x6f, 0x21};
    EXPECT_EQ(0, std::memcmp(d, want, 16));
}

TEST(WinCodec, ScrambleRoundTrip) {
    std::mt19937 rng(3);
    for (int i = 0; i < 50; ++i) {
        std::string plain(rng() % 30, '\0');
        for (auto& c : plain) c = char(rng());
        char text[100];
        int n = scramble(reinterpret_cast<const unsigned char*>(plain.data()), int(plain.size()), rng(), rng(), rng(),
                         text, sizeof text);
        ASSERT_GT(n, 0);
        unsigned char outBytes[64];
        int len = -1;
        ASSERT_EQ(1, descramble(text, n, outBytes, sizeof outBytes, &len));
        EXPECT_EQ(plain, std::string(reinterpret_cast<char*>(outBytes), len));
    }
}
