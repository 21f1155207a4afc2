// The tokenizer, the string-section cache and the %name% substitution.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "setup/profile.h"
#include "utf8_texts.h"

namespace {

// Adds a section given as "key=value" texts, laid out as the profile reader
// returns them (each text NUL-terminated).
void AddSection(std::initializer_list<const char*> entries) {
    std::string block;
    for (const char* e : entries) {
        block += e;
        block += '\0';
    }
    AddProfileSection(block.data(), static_cast<unsigned>(block.size()));
}

std::string Expand(const char* text, int size = 512) {
    std::vector<char> out(static_cast<size_t>(size) + 8, 'X');
    ExpandVariables(text, out.data(), size);
    // Nothing may be written past the stated size.
    for (size_t i = static_cast<size_t>(size); i < out.size(); ++i) EXPECT_EQ('X', out[i]);
    return std::string(out.data());
}

std::vector<std::string> Tokens(const char* text, const char* separators) {
    std::vector<char> buffer(text, text + std::strlen(text) + 1);
    char* cursor = buffer.data();
    std::vector<std::string> result;
    while (char* token = NextToken(&cursor, separators)) result.push_back(token);
    // Once exhausted it stays exhausted.
    EXPECT_EQ(nullptr, NextToken(&cursor, separators));
    return result;
}

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { ClearProfileCache(); }
    void TearDown() override { ClearProfileCache(); }
};

}  // namespace

TEST(NextTokenTest, RunsOfSeparatorsCountAsOne) {
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Tokens(" , a,,b ,", ", "));
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), Tokens(" , a,,b ,", " ,"));
    EXPECT_TRUE(Tokens("", ", ").empty());
    EXPECT_TRUE(Tokens(" ,, ", ", ").empty());
    EXPECT_EQ((std::vector<std::string>{"4", "21", "0"}), Tokens("4.21.0", "."));
    // The escape character alone takes the rest of the line as one token.
    EXPECT_EQ((std::vector<std::string>{"a, b=c"}), Tokens("a, b=c", "\x1b"));
}

TEST(NextTokenTest, WritesTerminatorInPlaceAndAdvances) {
    char text[] = "one,two";
    char* cursor = text;
    char* first = NextToken(&cursor, ",");
    EXPECT_EQ(text, first);
    EXPECT_STREQ("one", first);
    EXPECT_EQ(text + 4, cursor);
    EXPECT_STREQ("two", NextToken(&cursor, ","));
    EXPECT_EQ(text + 7, cursor);  // left at the end when no separator follows
}

TEST_F(ProfileTest, LaterSectionWinsAndLookupIgnoresCase) {
    AddSection({"Site=first.example", "Only=a"});
    AddSection({"SITE=second.example"});
    EXPECT_STREQ("second.example", FindVariable("site"));
    EXPECT_STREQ("a", FindVariable("ONLY"));
    EXPECT_EQ(nullptr, FindVariable("Missing"));
}

TEST_F(ProfileTest, KeysMatchWholeNamesCommentsAndBareEntriesAreSkipped) {
    AddSection({";Hidden=1", "Site=s", "NoEquals", "SITENAME=long", "Eq=a=b", "Empty="});
    EXPECT_EQ(nullptr, FindVariable(";Hidden"));
    EXPECT_EQ(nullptr, FindVariable("Hidden"));
    EXPECT_EQ(nullptr, FindVariable("NoEquals"));
    EXPECT_STREQ("long", FindVariable("SiteName"));
    EXPECT_STREQ("s", FindVariable("Site"));
    EXPECT_EQ(nullptr, FindVariable("Sit"));
    EXPECT_STREQ("a=b", FindVariable("eq"));  // the value starts after the first "="
    EXPECT_STREQ("", FindVariable("Empty"));
}

TEST_F(ProfileTest, EntriesWithoutClosingTextAreStillBounded) {
    // A block counted without its last terminator must not be read past.
    const char raw[] = {'a', '=', '1', '\0', 'b', '=', '2'};
    AddProfileSection(raw, sizeof raw);
    EXPECT_STREQ("2", FindVariable("b"));
    EXPECT_EQ(nullptr, FindVariable("c"));
    AddProfileSection(raw, 0);  // an empty section adds nothing
    EXPECT_STREQ("1", FindVariable("a"));
}

TEST_F(ProfileTest, ExpandsReferencesPercentsAndUndefinedNames) {
    AddSection({"Site=ftp.example", "Self=%Site%", "Pct=5%"});
    EXPECT_EQ("100%", Expand("100%%"));
    EXPECT_EQ("a%b", Expand("a%%b"));
    EXPECT_EQ("xftp.exampley", Expand("x%Site%y"));
    EXPECT_EQ("xftp.exampley", Expand("x%SITE%y"));
    EXPECT_EQ("xy", Expand("x%Nowhere%y"));
    EXPECT_EQ("%Site%", Expand("%Self%"));  // values are not expanded again
    EXPECT_EQ("5%!", Expand("%Pct%!"));
    EXPECT_EQ("abc", Expand("abc%def"));
    EXPECT_EQ("abc", Expand("abc%"));
    EXPECT_EQ("", Expand(""));
    EXPECT_EQ("%", Expand("%%%"));  // "%%" then an unfinished reference
}

TEST_F(ProfileTest, OverlongVariableNamesAreUndefined) {
    std::string name(128, 'n');
    std::string entry = name + "=v";
    std::string shortName(127, 'n');
    std::string shortEntry = shortName + "=w";
    AddSection({entry.c_str(), shortEntry.c_str()});
    EXPECT_EQ("ab", Expand(("a%" + name + "%b").c_str()));
    EXPECT_EQ("awb", Expand(("a%" + shortName + "%b").c_str()));
}

TEST_F(ProfileTest, OutputIsCutAtSizeLessOne) {
    AddSection({"Long=0123456789"});
    EXPECT_EQ("abcd", Expand("abcdefgh", 5));
    EXPECT_EQ("a0123", Expand("a%Long%b", 6));
    EXPECT_EQ("a012", Expand("a%Long%", 5));
    EXPECT_EQ("1", Expand("1%%", 2));
    EXPECT_EQ("", Expand("abc", 1));
    char untouched = 'X';
    ExpandVariables("abc", &untouched, 0);
    EXPECT_EQ('X', untouched);
}

// In UTF-8 a value or a literal is cut where a character begins, and what
// follows the cut is not written even where it would fit.
TEST_F(ProfileTest, Utf8OutputIsCutBeforeASplitCharacter) {
    Utf8Texts utf8;
    AddSection({"Name=\xD0\x97\xD0\xB0\xD0\xB3", "Han=\xE4\xB8\x8B\xE8\xBD\xBD"});
    EXPECT_EQ("a\xD0\x97", Expand("a%Name%b", 5));  // not half of "а", and no "b" in the room left
    EXPECT_EQ("a\xD0\x97\xD0\xB0", Expand("a%Name%b!", 6));
    EXPECT_EQ("", Expand("%Han%", 3));
    EXPECT_EQ("x\xE4\xB8\x8B", Expand("x%Han%", 7));
    EXPECT_EQ("\xC3\xA9", Expand("\xC3\xA9\xC3\xA9", 4));
    EXPECT_EQ("\xC3\xA9\xC3\xA9", Expand("\xC3\xA9\xC3\xA9", 5));
    // Legacy bytes are no UTF-8: cut where the buffer ends.
    EXPECT_EQ("caf\xE9", Expand("caf\xE9s", 5));
    Utf8Texts legacy(false);
    EXPECT_EQ("a\xD0\x97\xD0", Expand("a%Name%b", 5));
}

// Where the program runs in UTF-8, only what its profile reader would read
// wrong goes through a UTF-16 copy; elsewhere every file is read as always.
TEST(SetupReadingTest, CopiesOnlyWhatTheReaderWouldGetWrong) {
    EXPECT_EQ(ReadSetupUtf16FromLegacy, ChooseSetupReading(EncodingLegacy, true));
    EXPECT_EQ(ReadSetupUtf16FromUtf8, ChooseSetupReading(EncodingUtf8Bom, true));
    for (TextEncoding e : {EncodingAscii, EncodingUtf8, EncodingUtf16Le, EncodingUtf16Be})
        EXPECT_EQ(ReadSetupAsItIs, ChooseSetupReading(e, true)) << e;
    for (TextEncoding e : {EncodingAscii, EncodingUtf8, EncodingUtf8Bom, EncodingUtf16Le, EncodingUtf16Be,
                           EncodingLegacy})
        EXPECT_EQ(ReadSetupAsItIs, ChooseSetupReading(e, false)) << e;
}
