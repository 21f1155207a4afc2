// Rules of the download run that need no window: remote paths, status
// texts, shortcut arguments and site names.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "download/fetch_rules.h"
#include "utf8_texts.h"

namespace {

std::string Remote(const char* dir, const char* file, int ftp, int size = 260) {
    char out[260];
    BuildRemotePath(dir, file, ftp, out, size);
    return out;
}

std::string Status(const char* format, const char* file, const char* site, int size = 200) {
    char out[200];
    FormatFileStatus(format, file, site, out, size);
    return out;
}

TEST(RemotePath, HttpNamesTheDirectoryFtpAddsTheFile) {
    EXPECT_EQ(Remote("pub/client", "a.cab", 0), "pub/client/");
    EXPECT_EQ(Remote("pub/client", "a.cab", 1), "pub/client/a.cab");
    // Without a directory the FTP file is still named; HTTP gets nothing.
    EXPECT_EQ(Remote("", "a.cab", 1), "a.cab");
    EXPECT_EQ(Remote("", "a.cab", 0), "");
    EXPECT_EQ(Remote(nullptr, "a.cab", 1), "a.cab");
}

TEST(RemotePath, CutToTheBuffer) {
    char out[8];
    memset(out, 'x', sizeof out);
    BuildRemotePath("abcdef", "zz", 1, out, 6);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(out[6], 'x');  // nothing written past the given size
    BuildRemotePath("abc", "zz", 1, out, 0);
    EXPECT_EQ(out[0], 'a');
}

TEST(StatusText, FileThenSite) {
    EXPECT_EQ(Status("Error in receiving file '%s' from '%s'.", "a.cab", "host"),
              "Error in receiving file 'a.cab' from 'host'.");
    EXPECT_EQ(Status("Connecting to '%s'... Please wait...", "host", "host"),
              "Connecting to 'host'... Please wait...");
}

TEST(StatusText, PercentOneShowsTheFileName) {
    EXPECT_EQ(Status("Error while downloading %1: Out of disk space. Remove some files and run again.",
                     "a.cab", "host"),
              "Error while downloading a.cab: Out of disk space. Remove some files and run again.");
}

TEST(StatusText, OtherConversionsAreInertAndCut) {
    // A third "%s" or a "%d" must never read an argument that is not there.
    EXPECT_EQ(Status("%s %s %s %d %%", "f", "s"), "f s  %d %");
    EXPECT_EQ(Status("trailing %", "f", "s"), "trailing %");
    EXPECT_EQ(Status("%s", nullptr, nullptr), "");
    EXPECT_EQ(Status("file '%s'", "abcdefgh", "s", 9), "file 'ab");
}

TEST(StatusText, Utf8NamesAreCutWholeAndNothingFollowsTheCut) {
    Utf8Texts utf8;
    // "Загрузки" in Cyrillic: two bytes a character.
    const char* name = "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8";
    EXPECT_EQ(Status("'%s'", name, "s", 5), "'\xD0\x97");
    EXPECT_EQ(Status("'%s' x", name, "s", 6), "'\xD0\x97\xD0\xB0");
    EXPECT_EQ(Status("%s'", "\xE4\xB8\x8B", "s", 4), "\xE4\xB8\x8B");
    EXPECT_EQ(Status("%s'", "\xE4\xB8\x8B", "s", 3), "");
    Utf8Texts legacy(false);
    EXPECT_EQ(Status("'%s'", name, "s", 5), "'\xD0\x97\xD0");
}

TEST(ShortcutArguments, ProxySwitchFollowsTheFlag) {
    EXPECT_STREQ(StartShortcutArguments(0), " /NoIntervention");
    EXPECT_STREQ(StartShortcutArguments(1), " /NoIntervention /SaveProxySettings");
    // A run of a named setup description carries it, whole or not at all.
    char out[64] = " /NoIntervention";
    EXPECT_TRUE(AppendSetupPathArgument("C:\\a b\\cv.inf", out, sizeof out));
    EXPECT_STREQ(" /NoIntervention -inf \"C:\\a b\\cv.inf\"", out);
    char small[30] = " /NoIntervention";
    EXPECT_FALSE(AppendSetupPathArgument("C:\\a b\\cv.inf", small, sizeof small));
    EXPECT_STREQ(" /NoIntervention", small);
}

}  // namespace

// A part list is fetched again only after a run of tries whose bytes came
// whole and failed their sum; any other failure breaks the run, a new part
// starts a new one, and the fetches again are bounded for the whole fetch.
TEST(PartListDoubt, OnlyWholePartsFailingTheirSumInARowAndBounded) {
    PartListDoubt doubt;
    EXPECT_FALSE(doubt.TryFailed(true));
    EXPECT_FALSE(doubt.TryFailed(true));
    EXPECT_TRUE(doubt.TryFailed(true));
    doubt.ListFetched();
    // A cut body between them breaks the run; so does the next part.
    EXPECT_FALSE(doubt.TryFailed(true));
    EXPECT_FALSE(doubt.TryFailed(true));
    EXPECT_FALSE(doubt.TryFailed(false));
    EXPECT_FALSE(doubt.TryFailed(true));
    EXPECT_FALSE(doubt.TryFailed(true));
    doubt.NextPart();
    EXPECT_FALSE(doubt.TryFailed(true));
    EXPECT_FALSE(doubt.TryFailed(true));
    EXPECT_TRUE(doubt.TryFailed(true));
    doubt.ListFetched();
    EXPECT_EQ(kMostPartListFetchesAgain, doubt.fetches_again());
    // Spent: the tries go on without the list fetched again.
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(doubt.TryFailed(true));
}

// A component's pins: sha256_<n> for file n, the plain sha256 for the first
// file where no numbered key pins it. A value that is no fingerprint is a
// pin nothing matches, never "no pin".
TEST(Pins, NumberedKeyFirstPlainForTheFirstFileOnly) {
    const std::string a(64, 'a'), b = std::string(63, 'B') + "0";
    unsigned char digest[kSha256Size], expected[kSha256Size];
    std::memset(digest, 0x5a, sizeof digest);
    EXPECT_EQ(PinNone, ReadPin("", "", 1, digest));
    EXPECT_EQ(PinNone, ReadPin(nullptr, nullptr, 1, digest));
    EXPECT_EQ(PinNone, ReadPin("", a.c_str(), 2, digest));
    EXPECT_EQ(0x5a, digest[0]);
    ASSERT_EQ(PinGiven, ReadPin("", a.c_str(), 1, digest));
    ASSERT_EQ(1, ParseSha256Hex(a.c_str(), expected));
    EXPECT_TRUE(SameDigest(digest, expected));
    ASSERT_EQ(PinGiven, ReadPin(b.c_str(), a.c_str(), 1, digest));
    ASSERT_EQ(1, ParseSha256Hex(b.c_str(), expected));
    EXPECT_TRUE(SameDigest(digest, expected));
    expected[31] ^= 1;
    EXPECT_FALSE(SameDigest(digest, expected));
    ASSERT_EQ(PinGiven, ReadPin(b.c_str(), "", 3, digest));
    for (const std::string& bad : {a.substr(1), a + "0", "sha256:" + a, a + " x", std::string(64, 'g')}) {
        std::memset(digest, 0x5a, sizeof digest);
        EXPECT_EQ(PinMalformed, ReadPin(bad.c_str(), a.c_str(), 1, digest)) << bad;
        EXPECT_EQ(PinMalformed, ReadPin("", bad.c_str(), 1, digest)) << bad;
        EXPECT_EQ(0x5a, digest[0]);
    }
}

TEST(Pins, FileDigestIsThatOfItsBytes) {
    const std::string path = ::testing::TempDir() + "pin_file.bin";
    std::string bytes(200000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 9));
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    unsigned char digest[kSha256Size], expected[kSha256Size];
    ASSERT_EQ(0, Sha256OfFile(path.c_str(), digest));
    Sha256Of(bytes.data(), bytes.size(), expected);
    EXPECT_TRUE(SameDigest(digest, expected));
    std::remove(path.c_str());
    std::memset(digest, 0x5a, sizeof digest);
    EXPECT_EQ(kSha256FileNotOpened, Sha256OfFile(path.c_str(), digest));
    EXPECT_EQ(0x5a, digest[0]);
}

// Sites are taken in their order and end at the first one not named; any
// failure of what a site served sends the file to the next, a full disk
// does not, since every site's bytes land on the same disk.
TEST(Sites, NextSiteOnlyWhereOneIsNamedAndItCanHelp) {
    EXPECT_EQ(2, NextSiteNumber(1, "mirror.example.com"));
    EXPECT_EQ(3, NextSiteNumber(2, "10.0.0.1:8080/dir"));
    EXPECT_EQ(0, NextSiteNumber(1, ""));
    EXPECT_EQ(0, NextSiteNumber(1, " \t"));
    EXPECT_EQ(0, NextSiteNumber(1, nullptr));
    EXPECT_EQ(0, NextSiteNumber(0, "x"));
    EXPECT_EQ(0, NextSiteNumber(kMostSites, "x"));

    EXPECT_TRUE(AnotherSiteMayHelp(kSiteUnreachable));
    EXPECT_TRUE(AnotherSiteMayHelp(4));
    EXPECT_TRUE(AnotherSiteMayHelp(kFetchCertificateFailed));
    EXPECT_TRUE(AnotherSiteMayHelp(kFetchFingerprintMismatch));
    EXPECT_FALSE(AnotherSiteMayHelp(5));
    EXPECT_FALSE(AnotherSiteMayHelp(0));
}

// An absent key keeps the transport's tries; a written one is bounded both
// ways, so neither "0" nor a huge number leaves a fetch untried or endless.
TEST(Sites, TriesFromTheSetupAreBounded) {
    EXPECT_EQ(0, TriesFromSetting(0));
    EXPECT_EQ(1, TriesFromSetting(-5));
    EXPECT_EQ(1, TriesFromSetting(1));
    EXPECT_EQ(10, TriesFromSetting(10));
    EXPECT_EQ(kMostTries, TriesFromSetting(1000000));
}

// Connections are bounded like the tries; parts in memory never take more
// than the bound, with a buffer more than connections; parts too large for
// that go to their files with every connection still in use.
TEST(Sites, PartsInFlightAreBoundedByConnectionsAndMemory) {
    EXPECT_EQ(kDefaultConnections, ConnectionsFromSetting(0));
    EXPECT_EQ(1, ConnectionsFromSetting(-3));
    EXPECT_EQ(kMostConnections, ConnectionsFromSetting(1000));
    const int kMiB = 1024 * 1024;
    struct Case {
        int connections, partBytes, parts, wantConnections, wantBuffers;
        bool streamed;
    } cases[] = {
        {4, kMiB, 48, 4, 12, false},       // small parts: a window of three per connection
        {1, kMiB, 48, 1, 3, false},        // one at a time, as before, still overlapping the join
        {4, kMiB, 2, 2, 6, false},         // never more connections than parts
        {4, 6 * kMiB, 48, 4, 5, false},    // 30 MiB: one buffer more than connections
        {4, 8 * kMiB, 48, 4, 12, true},    // four and one more do not fit: to the files
        {1, 16 * kMiB, 48, 1, 2, false},   // two fit one connection
        {4, 0x7fffffff, 48, 4, 12, true},  // larger than the bound itself
        {99, 64 * 1024, 1000, kMostConnections, 3 * kMostConnections, false},
        {4, 0, 3, 3, 9, false},            // empty parts take no memory
    };
    for (const Case& c : cases) {
        PartSlots slots = PlanPartSlots(c.connections, c.partBytes, c.parts);
        EXPECT_EQ(c.wantConnections, slots.connections) << c.partBytes;
        EXPECT_EQ(c.wantBuffers, slots.buffers) << c.partBytes;
        EXPECT_EQ(c.streamed, slots.streamed) << c.partBytes;
        if (!slots.streamed) EXPECT_LE(static_cast<long long>(slots.buffers) * c.partBytes, kPartMemoryBytes);
    }
    // A smaller bound, as tests set it.
    EXPECT_TRUE(PlanPartSlots(4, 32 * 1024, 6, 64 * 1024).streamed);
}
