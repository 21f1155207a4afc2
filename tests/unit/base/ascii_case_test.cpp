// Texts compared with ASCII letters in either case: whole texts, counted
// bytes against a word, and prefixes, never reading past what they are given
// and never folding a byte outside A-Z.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/ascii_case.h"

TEST(AsciiCase, WholeTextsAndSiteNames) {
    EXPECT_TRUE(EqualNoCase("Host.Example", "host.example"));
    EXPECT_FALSE(EqualNoCase("host", "host2"));
    EXPECT_FALSE(EqualNoCase("host2", "host"));
    EXPECT_FALSE(EqualNoCase("", "host"));
    EXPECT_TRUE(EqualNoCase("", ""));
    EXPECT_TRUE(EqualNoCase(nullptr, nullptr));
    EXPECT_FALSE(EqualNoCase(nullptr, ""));
    // Only A-Z fold: "@" and "`", "[" and "{", and bytes above 127 stay
    // apart from their neighbours 32 places away.
    EXPECT_FALSE(EqualNoCase("@", "`"));
    EXPECT_FALSE(EqualNoCase("[", "{"));
    EXPECT_FALSE(EqualNoCase("\xC4", "\xE4"));
    EXPECT_EQ('z', AsciiLower('Z'));
    EXPECT_EQ('\xC4', AsciiLower('\xC4'));
    EXPECT_TRUE(EqualNoCaseN("HOST-a", "host-b", 5));
    EXPECT_FALSE(EqualNoCaseN("HOST-a", "host-b", 6));
    EXPECT_TRUE(EqualNoCaseN("ab", "AB", 10));  // ends with both texts
}

TEST(AsciiCase, CountedBytesAndPrefixesReadNoFurther) {
    // The bytes given are all there is: no terminator after them, so a read
    // past them is caught by the address sanitizer.
    const char* text = "CONTENT-LENGTH";
    std::vector<char> bytes(text, text + std::strlen(text));
    EXPECT_TRUE(EqualNoCase(bytes.data(), bytes.size(), "content-length"));
    EXPECT_FALSE(EqualNoCase(bytes.data(), bytes.size() - 1, "content-length"));
    EXPECT_FALSE(EqualNoCase(bytes.data(), bytes.size(), "content-lengths"));
    EXPECT_TRUE(StartsNoCase(bytes.data(), bytes.size(), "Content-"));
    EXPECT_FALSE(StartsNoCase(bytes.data(), 3, "Content-"));
    // A NUL among the bytes is a byte like any other.
    const char withNul[] = {'h', 't', '\0', 'p'};
    EXPECT_FALSE(StartsNoCase(withNul, sizeof withNul, "http"));
    EXPECT_TRUE(StartsNoCase("HTTPS://host", "https://"));
    EXPECT_FALSE(StartsNoCase("http", "https://"));
    EXPECT_TRUE(StartsNoCase("anything", ""));
}
