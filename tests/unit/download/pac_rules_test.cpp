// Answers of proxy auto-configuration scripts and the address a script is
// asked about.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/pac_rules.h"

namespace {
// Entries as "host:port" texts, "DIRECT" for a direct one.
std::vector<std::string> Parse(const char* answer, int capacity = 8) {
    PacEntry entries[8];
    int n = ParsePacAnswer(answer, entries, capacity);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.push_back(entries[i].direct ? "DIRECT" : std::string(entries[i].address) + ":" + entries[i].port);
    return out;
}
using V = std::vector<std::string>;
}  // namespace

TEST(PacAnswer, ScriptListsAndSystemListsGiveTheSameEntriesInOrder) {
    EXPECT_EQ((V{"a:1", "b:2", "DIRECT"}), Parse("PROXY a:1; PROXY b:2; DIRECT"));
    EXPECT_EQ((V{"a:1", "b:2", "DIRECT"}), Parse("a:1;b:2;DIRECT"));
    EXPECT_EQ((V{"a:1", "b:2"}), Parse("  proxy   a:1 ;;  HTTP b:2  ;"));
    EXPECT_EQ((V{"DIRECT"}), Parse("DIRECT"));
    EXPECT_EQ((V{"DIRECT"}), Parse(" direct "));
    // A proxy without a port keeps an empty port; "http://" is dropped.
    EXPECT_EQ((V{"host:", "h2:8080"}), Parse("PROXY host; PROXY http://h2:8080/"));
    EXPECT_EQ((V{"a:1"}), Parse("http=a:1"));
}

TEST(PacAnswer, SchemesThisClientCannotSpeakAndBrokenEntriesAreSkipped) {
    EXPECT_EQ((V{"b:2"}), Parse("SOCKS s:1080; SOCKS5 t:1; HTTPS h:443; PROXY b:2"));
    EXPECT_EQ((V{"c:3"}), Parse("ftp=f:21; c:3"));
    EXPECT_EQ(V{}, Parse("PROXY ; PROXY :80; PROXY a:x1; PROXY a b; DIRECT x"));
    EXPECT_EQ(V{}, Parse(""));
    EXPECT_EQ(V{}, Parse(";;;"));
    EXPECT_EQ(V{}, Parse(nullptr));
}

TEST(PacAnswer, RepeatsAreKeptOnceAndTheCapacityHolds) {
    EXPECT_EQ((V{"a:1", "DIRECT"}), Parse("PROXY a:1; a:1; DIRECT; DIRECT"));
    EXPECT_EQ((V{"a:1", "b:2"}), Parse("a:1;b:2;c:3;d:4", 2));
    // A host that does not fit its field is skipped, never cut.
    std::string longHost = "PROXY " + std::string(300, 'h') + ":1; ok:2";
    EXPECT_EQ((V{"ok:2"}), Parse(longHost.c_str()));
    std::string longPort = "PROXY a:" + std::string(40, '9') + "; ok:2";
    EXPECT_EQ((V{"ok:2"}), Parse(longPort.c_str()));
}

TEST(PacLookup, UrlOfTheFileWithoutUserInformation) {
    char out[200];
    ASSERT_TRUE(PacLookupUrl("downloads.example:8080/base/", "quorrin/data/", "pkginfo.txt", out, sizeof out));
    EXPECT_STREQ("http://downloads.example:8080/base/quorrin/data/pkginfo.txt", out);
    ASSERT_TRUE(PacLookupUrl("HTTP://user:pw@host/", "d/", "f", out, sizeof out));
    EXPECT_STREQ("http://host/d/f", out);
    // An "@" in the path is not user information.
    ASSERT_TRUE(PacLookupUrl("host/a@b/", "", "f", out, sizeof out));
    EXPECT_STREQ("http://host/a@b/f", out);
    // An https site is asked about as https, for its own host and port.
    ASSERT_TRUE(PacLookupUrl("https://u:p@secure.example/base/", "d/", "f", out, sizeof out));
    EXPECT_STREQ("https://secure.example/base/d/f", out);
    ASSERT_TRUE(PacLookupUrl("HTTPS://secure.example:8443/", "", "f", out, sizeof out));
    EXPECT_STREQ("https://secure.example:8443/f", out);
    EXPECT_FALSE(PacLookupUrl("", "d/", "f", out, sizeof out));
    char small[10] = "unchanged";
    EXPECT_FALSE(PacLookupUrl("host.example/", "d/", "f", small, sizeof small));
    EXPECT_STREQ("", small);
}
