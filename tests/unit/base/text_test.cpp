// Cuts into fixed buffers (whole characters only where the texts are UTF-8,
// byte for byte otherwise) and telling a file's encoding from its bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/text_copy.h"
#include "base/text_encoding.h"
#include "utf8_texts.h"

namespace {

// "déjà-при-下载-😀": characters of two, three and four bytes.
const char kMixed[] = "d\xC3\xA9j\xC3\xA0-\xD0\xBF\xD1\x80\xD0\xB8-\xE4\xB8\x8B\xE8\xBD\xBD-\xF0\x9F\x98\x80";

std::string Copied(int size, const char* text) {
    char out[64];
    std::memset(out, 'X', sizeof out);
    CopyTruncated(out, size, text);
    EXPECT_EQ('X', out[size]);  // nothing written past the size
    return out;
}

// Every cut of the mixed text into every size is a beginning of it that
// ends on a character boundary, at most one character shorter than bytes
// allow.
TEST(TextCut, Utf8CopiesKeepWholeCharacters) {
    Utf8Texts utf8;
    const std::string whole = kMixed;
    for (int size = 1; size <= static_cast<int>(whole.size()) + 1; ++size) {
        const std::string cut = Copied(size, kMixed);
        ASSERT_EQ(0u, whole.find(cut)) << size;
        ASSERT_LE(cut.size(), static_cast<size_t>(size - 1));
        ASSERT_GE(cut.size() + 4, static_cast<size_t>(size - 1)) << size;
        if (cut.size() < whole.size())
            ASSERT_NE(0x80, static_cast<unsigned char>(whole[cut.size()]) & 0xC0) << size;
    }
    EXPECT_EQ("d", Copied(3, kMixed));          // "é" needs bytes 2 and 3
    EXPECT_EQ("d\xC3\xA9", Copied(4, kMixed));
    EXPECT_EQ("d\xC3\xA9j\xC3\xA0-\xD0\xBF\xD1\x80\xD0\xB8-", Copied(17, kMixed));
    EXPECT_EQ(std::string(kMixed, sizeof kMixed - 5), Copied(sizeof kMixed - 1, kMixed));
    char untouched = 'X';
    EXPECT_FALSE(CopyTruncated(&untouched, 0, kMixed));
    EXPECT_EQ('X', untouched);
}

TEST(TextCut, LegacyCopiesCutAtTheBufferEnd) {
    Utf8Texts legacy(false);
    EXPECT_EQ("d\xC3", Copied(3, kMixed));
    EXPECT_EQ("caf\xE9", Copied(5, "caf\xE9s"));
    char out[6] = "ab";
    AppendTruncated(out, sizeof out, "\xD0\xBF\xD1\x80");
    EXPECT_STREQ("ab\xD0\xBF\xD1", out);
}

TEST(TextCut, Utf8AppendsAndBrokenBytes) {
    Utf8Texts utf8;
    char out[6] = "ab";
    AppendTruncated(out, sizeof out, "\xD0\xBF\xD1\x80");
    EXPECT_STREQ("ab\xD0\xBF", out);
    // Bytes that are no UTF-8 (a legacy text read as it is) are cut where
    // the buffer ends: no character of them can be kept whole.
    EXPECT_EQ("caf\xE9", Copied(5, "caf\xE9s"));
    EXPECT_EQ("a\x80\x80\x80", Copied(5, "a\x80\x80\x80\x80\x80"));
    EXPECT_EQ("a\xC0\x80", Copied(4, "a\xC0\x80\x80"));  // overlong lead: not a character
    // A lead whose character had all its bytes: what follows is stray.
    EXPECT_EQ("\xC3\xA9", Copied(3, "\xC3\xA9\xA9"));
    // The cut byte is a lead or ASCII: nothing open to drop.
    EXPECT_EQ(2, CharacterCut("\xC3\xA9", 2, 0xD0));
    EXPECT_EQ(1, CharacterCut("a\xE4\xB8", 3, 0x8B));
    EXPECT_EQ(0, CharacterCut("\xF0\x9F\x98", 3, 0x80));
    EXPECT_EQ(0, CharacterCut("", 0, 0x80));
}

TEST(TextCut, TrimsWhatASystemCallCutShort) {
    Utf8Texts utf8;
    char text[32];
    std::strcpy(text, "caf\xC3");
    TrimCutCharacter(text);
    EXPECT_STREQ("caf", text);
    std::strcpy(text, "\xE4\xB8\x8B\xE8\xBD");
    TrimCutCharacter(text);
    EXPECT_STREQ("\xE4\xB8\x8B", text);
    std::strcpy(text, "\xE4\xB8\x8B");  // whole: stays
    TrimCutCharacter(text);
    EXPECT_STREQ("\xE4\xB8\x8B", text);
    std::strcpy(text, "caf\x80");  // a stray continuation ends no character
    TrimCutCharacter(text);
    EXPECT_STREQ("caf\x80", text);
    TrimCutCharacter(nullptr);
    SetTextsUtf8(false);
    std::strcpy(text, "caf\xC3");
    TrimCutCharacter(text);
    EXPECT_STREQ("caf\xC3", text);
}

TEST(TextCut, LimitsCountCharactersInUtf8AndBytesOtherwise) {
    char text[64];
    {
        Utf8Texts utf8;
        std::strcpy(text, kMixed);
        EXPECT_TRUE(LimitCharacters(text, 5));
        EXPECT_STREQ("d\xC3\xA9j\xC3\xA0-", text);
        EXPECT_FALSE(LimitCharacters(text, 5));
        EXPECT_TRUE(LimitCharacters(text, 0));
        EXPECT_STREQ("", text);
        std::strcpy(text, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
        EXPECT_TRUE(LimitCharacters(text, 1));
        EXPECT_STREQ("\xF0\x9F\x98\x80", text);
    }
    Utf8Texts legacy(false);
    std::strcpy(text, kMixed);
    EXPECT_TRUE(LimitCharacters(text, 5));
    EXPECT_STREQ("d\xC3\xA9j\xC3", text);
    EXPECT_FALSE(LimitCharacters(nullptr, 3));
}

TextEncoding Detect(const std::string& bytes) {
    return DetectTextEncoding(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

bool Valid(const std::string& bytes) {
    return IsValidUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(TextEncodingTest, MarksComeFirstThenAsciiThenValidUtf8) {
    EXPECT_EQ(EncodingUtf16Le, Detect("\xFF\xFE[\0d\0"));
    EXPECT_EQ(EncodingUtf16Be, Detect("\xFE\xFF\0[\0d"));
    EXPECT_EQ(EncodingUtf8Bom, Detect("\xEF\xBB\xBF[defs]"));
    EXPECT_EQ(EncodingUtf8Bom, Detect("\xEF\xBB\xBF[defs]\xE9"));  // the mark decides
    EXPECT_EQ(EncodingAscii, Detect(""));
    EXPECT_EQ(EncodingAscii, Detect(std::string("[defs]\r\nname=a\0b", 17)));
    EXPECT_EQ(EncodingUtf8, Detect(std::string("name=") + kMixed));
    // A setup written in a Western legacy code page: "é" alone is no UTF-8.
    EXPECT_EQ(EncodingLegacy, Detect("name=Caf\xE9 \xDCber\r\n"));
    EXPECT_EQ(EncodingLegacy, Detect("\xEF\xBB"));  // half a mark
    EXPECT_EQ(EncodingLegacy, Detect("\xFF"));
}

TEST(TextEncodingTest, Utf8IsStrict) {
    EXPECT_TRUE(Valid(kMixed));
    EXPECT_TRUE(Valid("\xF4\x8F\xBF\xBF"));   // U+10FFFF
    EXPECT_TRUE(Valid("\xED\x9F\xBF"));        // U+D7FF, below the surrogates
    EXPECT_FALSE(Valid("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(Valid("\xED\xA0\x80"));       // a surrogate
    EXPECT_FALSE(Valid("\xC0\xAF"));            // overlong "/"
    EXPECT_FALSE(Valid("\xE0\x80\xAF"));       // overlong "/"
    EXPECT_FALSE(Valid("\xF0\x80\x80\xAF"));  // overlong "/"
    EXPECT_FALSE(Valid("\xF5\x80\x80\x80"));
    EXPECT_FALSE(Valid("\xC3"));                 // cut short
    EXPECT_FALSE(Valid("\xE4\xB8"));
    EXPECT_FALSE(Valid("\xE4\xB8z"));
    EXPECT_FALSE(Valid("\x80"));                 // a continuation alone
}

}  // namespace
