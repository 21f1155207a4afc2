// Parts are checked against their sums as they arrive: a damaged part is a
// failed try and is fetched again, never joined nor kept. A part, or a part
// list, that keeps failing is given up after the transport's tries, and the
// fetch ends with "dl4" 4 instead of trying for ever; the run log says
// why each try failed and that the part was given up.
#include "fetch_support.h"

#include "download/fetch_rules.h"
#include "http/codec.h"
#include "http/sha256.h"

namespace {
const int kPart = 16 * 1024;
const int kParts = 4;


class PartChecks : public FetchFixture {
protected:
    void SetUp() override {
        FetchFixture::SetUp();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        data = PatternBytes(kParts * kPart, 21);
        ASSERT_TRUE(Publish(std::string("checks-") + info->name(), data, kPart, &layout));
        server = new ScriptedServer(WwwRoot());
        ASSERT_TRUE(server->Start());
        site = "http://127.0.0.1:" + std::to_string(server->Port());
    }
    void TearDown() override {
        FetchFixture::TearDown();
        delete server;
    }
    std::string Url(const std::string& name) const { return "/" + layout.name + "/" + name; }
    std::string PartUrl(int n) const {
        char name[32];
        snprintf(name, sizeof name, "file%03d.bin", n);
        return Url(name);
    }

    // Sets `key` of section `section` in the served part list to `value`.
    void SetListLine(const std::string& section, const std::string& key, const std::string& value) {
        std::string list = ReadPartList(layout);
        size_t at = list.find("[" + section + "]");
        ASSERT_NE(std::string::npos, at);
        at = list.find("\n" + key + "=", at);
        ASSERT_NE(std::string::npos, at);
        size_t end = list.find('\n', at + 1);
        list.replace(at + 1, end - at - 1, key + "=" + value);
        WritePartList(layout, list);
    }
    // Puts other bytes in place of part `n` on the server, with the 32-bit
    // sums of the part and the whole file made to fit them, as anyone who
    // can match a 32-bit sum would; the strong sums stay as they were.
    std::string ForgePart(int n) {
        std::string forged = data.substr(static_cast<size_t>(n) * kPart, kPart);
        forged[100] ^= 0x55;
        char name[32];
        snprintf(name, sizeof name, "file%03d.bin", n);
        WriteFileText(layout.dir + "\\" + name, forged);
        std::string joined = data;
        joined.replace(static_cast<size_t>(n) * kPart, kPart, forged);
        SetListLine("sums", name, std::to_string(Sum32Of(forged)));
        SetListLine("sums", "total_sum", std::to_string(Sum32Of(joined)));
        return forged;
    }
    static uint32_t Sum32Of(const std::string& bytes) {
        IAD_MD5 md5;
        md5.init();
        md5.update(bytes.data(), static_cast<unsigned>(bytes.size()));
        return md5.sum32();
    }

    std::string data;
    Layout layout;
    ScriptedServer* server = nullptr;
    std::string site;
};
}  // namespace

TEST_F(PartChecks, DamagedPartIsFetchedAgainAndOnlyTheGoodOneKept) {
    Open(site);
    server->Script(PartUrl(1), {ScriptedServer::Damaged, ScriptedServer::Damaged});
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(3, server->Requests(PartUrl(1)));
    // The failed tries report no progress.
    EXPECT_EQ("dl1 dl2 dl3 dl3 dl3 dl3 dl4", recorder.Names());
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(data.substr(kPart, kPart), ReadFileBytes(Part(1)));
}

TEST_F(PartChecks, PartsShareKeptConnections) {
    RunLogLines log;
    // A server that keeps connections: the part list and every part over
    // one, a damaged part fetched again on it too.
    server->KeepAlive(true);
    server->Script(PartUrl(2), {ScriptedServer::Damaged});
    Open(site);
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(kParts + 2, server->TotalRequests());
    EXPECT_EQ(1, server->Connections());
    EXPECT_TRUE(log.InOrder({": complete; parts: 4 fetched, 0 present, 1 retries; 1 connections"})) << log.text;

    // A server that ends every answer's connection, or says close while it
    // frames the answer: a connection per request, and the whole file.
    server->KeepAlive(false);
    for (int n = 0; n < kParts; ++n) DeleteFileA(Part(n).c_str());
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(1 + (kParts + 1), server->Connections());
    server->KeepAlive(true);
    for (int n = 0; n < kParts; ++n) {
        DeleteFileA(Part(n).c_str());
        server->Script(PartUrl(n), {ScriptedServer::SaysClose});
    }
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // The part list and part 0 share one; each later part needs its own.
    EXPECT_EQ(1 + (kParts + 1) + kParts, server->Connections());
}

TEST_F(PartChecks, KeptConnectionDroppedWhileIdleCostsNoTry) {
    RunLogLines log;
    // One try per part: a dropped connection counted as a failed try would
    // give the part up.
    UseTries(1);
    server->KeepAlive(true);
    server->Script(Url("pkginfo.txt"), {ScriptedServer::DropAfter});
    server->Script(PartUrl(1), {ScriptedServer::DropAfter});
    server->Script(PartUrl(2), {ScriptedServer::DropAfter});
    Open(site);
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(kParts + 1, server->TotalRequests());
    EXPECT_EQ(4, server->Connections());
    EXPECT_TRUE(log.InOrder({": complete; parts: 4 fetched, 0 present, 0 retries; 4 connections"})) << log.text;
    EXPECT_EQ(std::string::npos, log.Text().find("failed (")) << log.text;
}

TEST_F(PartChecks, PartDamagedOrMissingEveryTimeIsGivenUp) {
    RunLogLines log;
    UseTries(3);
    Open(site);
    server->Script(PartUrl(2), std::vector<ScriptedServer::Action>(10, ScriptedServer::Damaged));
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(3, server->Requests(PartUrl(2)));
    EXPECT_EQ(0, server->Requests(PartUrl(3)));
    EXPECT_EQ("dl1 dl2 dl3 dl3 dl4", recorder.Names());
    // The damaged part never reached the disk; the file holds what was
    // joined before it.
    EXPECT_FALSE(FileExists(Part(2)));
    EXPECT_EQ(data.substr(0, 2 * kPart), ReadFileBytes(Target()));
    EXPECT_TRUE(log.InOrder({"part file002.bin: try 1 failed (the sum does not match the part list)",
                             "part file002.bin: try 3 failed (the sum", "part file002.bin: given up after 3 tries",
                             ": failed; parts: 2 fetched, 0 present, 2 retries"}))
        << log.text;

    // A part the server does not have (404) ends the same way; the parts
    // before it are not fetched again.
    DeleteFileA((layout.dir + "\\file002.bin").c_str());
    recorder.reports.clear();
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(3 + 3, server->Requests(PartUrl(2)));
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_EQ("dl2 dl4", recorder.Names());
    EXPECT_TRUE(log.InOrder({"part file002.bin: try 1 failed (", "HTTP status 404",
                             "part file002.bin: given up after 3 tries",
                             ": failed; parts: 0 fetched, 2 present, 2 retries"}))
        << log.text;
}

// A run nobody watches (allowintervention=FALSE) never shows the settings
// dialog, which would wait for ever: after the direct attempt the attempts
// start over after a pause, until the tries are spent.
TEST_F(PartChecks, UnattendedRunAsksNothingAndGivesUp) {
    RunLogLines log;
    UseTries(3);
    transport->SetUnattended(true);
    Open(site);
    DeleteFileA((layout.dir + "\\pkginfo.txt").c_str());
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(3, server->Requests(Url("pkginfo.txt")));
    EXPECT_EQ("dl1 dl4", recorder.Names());
    EXPECT_EQ(nullptr, transport->state->settingsDialog);
    EXPECT_TRUE(log.InOrder({"with a direct connection (no proxy): failed: ", "an unattended run asks nothing",
                             "with the component's own settings (no proxy): failed: ",
                             "pkginfo.txt: given up after 3 tries"}))
        << log.text;
}

TEST_F(PartChecks, PartListThatCannotBeHadIsGivenUp) {
    RunLogLines log;
    UseTries(2);
    Open(site);
    DeleteFileA((layout.dir + "\\pkginfo.txt").c_str());
    // Configured (no proxy) and Direct fail; with no browser proxy and the
    // tries spent, no settings dialog is shown.
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(2, server->Requests(Url("pkginfo.txt")));
    EXPECT_EQ("dl1 dl4", recorder.Names());
    EXPECT_EQ(nullptr, transport->state->settingsDialog);
    EXPECT_TRUE(log.InOrder({"with the component's own settings (no proxy): failed: ", "HTTP status 404",
                             "with a direct connection (no proxy): failed: ", "pkginfo.txt: given up after 2 tries"}))
        << log.text;
}

// A part list cut short by a server that announces no length is not taken
// for the whole list: the attempt fails, and the next one reaches it whole.
TEST_F(PartChecks, PartListCutShortIsFetchedAgain) {
    RunLogLines log;
    Open(site);
    server->Script(Url("pkginfo.txt"), {ScriptedServer::CutShort});
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(2, server->Requests(Url("pkginfo.txt")));
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_TRUE(log.InOrder({"with the component's own settings (no proxy): failed: the part list is not whole: no [",
                             "with a direct connection (no proxy): reached"}))
        << log.text;
}

// A part list and a part whose bodies end short of their Content-Length
// are failed tries, never taken as whole: each is fetched again.
TEST_F(PartChecks, BodiesShortOfTheirLengthAreFetchedAgain) {
    RunLogLines log;
    Open(site);
    server->Script(Url("pkginfo.txt"), {ScriptedServer::CutAnnounced});
    server->Script(PartUrl(1), {ScriptedServer::CutAnnounced});
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    EXPECT_EQ(2, server->Requests(Url("pkginfo.txt")));
    EXPECT_EQ(2, server->Requests(PartUrl(1)));
    EXPECT_TRUE(log.InOrder({"with the component's own settings (no proxy): failed: ", "bytes short of its",
                             "with a direct connection (no proxy): reached",
                             "part file001.bin: try 1 failed (", "bytes short of its 16384"}))
        << log.text;
    // A site without a user gets no login at all: hosts that take none
    // refuse any Authorization header, an empty one too.
    EXPECT_EQ(0, server->RequestsCarrying("\r\nAuthorization:"));
}

// A part list replaced on the server while a fetch runs: a part of the new
// version fails the old list's sum with every byte there, and after three
// such tries the list is fetched again; the parts start over with the new
// list, those on the disk that still agree taken from there. A part damaged
// on the server with its list unchanged has the list fetched again once
// more, to no effect, and is then tried on within the same bound.
TEST_F(PartChecks, PartListChangedOnTheServerIsFetchedAgain) {
    RunLogLines log;
    std::string changed = data;
    changed[kPart + 5] = static_cast<char>(changed[kPart + 5] ^ 0x33);
    Layout next;
    ASSERT_TRUE(Publish(layout.name + "-next", changed, kPart, &next));
    ASSERT_NE(ReadPartList(layout), ReadPartList(next));
    // The new version arrives once the old list was read.
    server->onRequest = [&](const std::string& path, int count) {
        if (path != PartUrl(0) || count != 1) return;
        for (const char* name : {"\\pkginfo.txt", "\\file001.bin"})
            CopyFileA((next.dir + name).c_str(), (layout.dir + name).c_str(), FALSE);
    };
    server->Script(PartUrl(2), {ScriptedServer::Damaged, ScriptedServer::Damaged, ScriptedServer::Damaged});
    Open(site);
    ASSERT_EQ(0, Fetch(layout.name)) << log.Text();
    EXPECT_EQ(changed, ReadFileBytes(Target()));
    EXPECT_EQ(3, server->Requests(Url("pkginfo.txt")));
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_EQ(4, server->Requests(PartUrl(1)));
    EXPECT_EQ(4, server->Requests(PartUrl(2)));
    EXPECT_EQ(1, server->Requests(PartUrl(3)));
    EXPECT_FALSE(FileExists(local + "\\pkginfo.new"));
    EXPECT_TRUE(log.InOrder({"part file001.bin: try 3 failed (the sum does not match the part list)",
                             "part file001.bin: its bytes came whole and disagreed with the part list 3 times in a row",
                             "with the settings that reached it before (no proxy): reached",
                             "it changed on the server; the parts start over with it",
                             "part file002.bin: try 3 failed (the sum", "the part list is fetched again",
                             ": unchanged", ": complete; parts: "}))
        << log.text;
}

// The same with four parts in flight: the list is fetched again once the
// other parts are in, and the parts start over with the new one.
TEST_F(PartChecks, PartListChangedWhilePartsAreInFlight) {
    RunLogLines log;
    transport->SetConnections(4);
    std::string changed = data;
    changed[kPart + 5] = static_cast<char>(changed[kPart + 5] ^ 0x33);
    Layout next;
    ASSERT_TRUE(Publish(layout.name + "-next", changed, kPart, &next));
    volatile LONG copied = 0;
    server->onRequest = [&](const std::string& path, int count) {
        if (path != PartUrl(0) || count != 1) return;
        for (const char* name : {"\\pkginfo.txt", "\\file001.bin"})
            CopyFileA((next.dir + name).c_str(), (layout.dir + name).c_str(), FALSE);
        InterlockedExchange(&copied, 1);
    };
    // Part 1 is answered only once the new version is there.
    server->Script(PartUrl(1), {ScriptedServer::Hold});
    Open(site);
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    ASSERT_TRUE(PumpUntil([&] { return copied == 1 && server->HeldNow() == 1; }));
    server->Release();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ(0u, recorder.Last(msgDl4)->wParam) << log.Text();
    EXPECT_EQ(changed, ReadFileBytes(Target()));
    EXPECT_EQ(2, server->Requests(Url("pkginfo.txt")));
    EXPECT_FALSE(FileExists(local + "\\pkginfo.new"));
    EXPECT_TRUE(log.InOrder({"part file001.bin: its bytes came whole and disagreed with the part list 3 times in a row",
                             "it changed on the server; the parts start over with it", ": complete; parts: "}))
        << log.text;
}

// A forged part whose 32-bit sums were made to fit passes the weak check but
// not its SHA-256: each try fails, it never reaches the disk, and the part is
// given up. A forged copy already on the disk is not taken either.
TEST_F(PartChecks, ForgedPartWithFittingWeakSumIsRefusedByItsStrongSum) {
    RunLogLines log;
    UseTries(2);
    Open(site);
    const std::string forged = ForgePart(1);
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(2, server->Requests(PartUrl(1)));
    EXPECT_EQ(0, server->Requests(PartUrl(2)));
    EXPECT_FALSE(FileExists(Part(1)));
    EXPECT_TRUE(log.InOrder({"part file001.bin: try 1 failed (the SHA-256 does not match the part list)",
                             "part file001.bin: try 2 failed (the SHA-256", "part file001.bin: given up after 2 tries"}))
        << log.text;

    // A forged copy on the disk that fits the weak sums of the list is no
    // part present: it is fetched again (and refused again).
    WriteFileText(Part(1), forged);
    recorder.reports.clear();
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(4, server->Requests(PartUrl(1)));
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_TRUE(log.InOrder({"given up after 2 tries", ": failed; parts: 0 fetched, 1 present"})) << log.text;
}

// Parts that each match, joined into a file the list's strong total does
// not name: the fetch fails, as for a total_sum that does not match.
TEST_F(PartChecks, JoinedFileMustMatchTheStrongTotal) {
    RunLogLines log;
    Open(site);
    unsigned char digest[kSha256Size];
    char hex[kSha256HexLength + 1];
    Sha256Of("not the file", 12, digest);
    Sha256Hex(digest, hex);
    SetListLine("sha256", "total", hex);
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_TRUE(log.InOrder({": the joined parts do not match the SHA-256 total of the part list",
                             ": failed; parts: 4 fetched"}))
        << log.text;
}

// A part list pinned by the setup: taken as served when it matches; another
// list (here the forged one) is refused as a whole before any part is
// fetched, tried again with the same arrangement, then given up with its
// own report, and left nowhere on the disk.
TEST_F(PartChecks, PinnedPartListIsTakenOnlyAsPinned) {
    RunLogLines log;
    UseTries(2);
    Open(site);
    const std::string list = ReadPartList(layout);
    unsigned char pin[kSha256Size];
    Sha256Of(list.data(), list.size(), pin);
    transport->SetFingerprint(pin);
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));

    RemoveTree(local);
    CreateDirectoryA(local.c_str(), nullptr);
    ForgePart(2);
    recorder.reports.clear();
    EXPECT_EQ(kFetchFingerprintMismatch, Fetch(layout.name));
    EXPECT_EQ(1 + 2, server->Requests(Url("pkginfo.txt")));
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_EQ(1, server->Requests(PartUrl(2)));
    EXPECT_EQ("dl4", recorder.Names());
    EXPECT_FALSE(FileExists(local + "\\pkginfo.txt"));
    EXPECT_FALSE(FileExists(Part(0)));
    EXPECT_TRUE(log.InOrder({"with the component's own settings (no proxy): failed: does not match the fingerprint in "
                             "the setup",
                             "with the component's own settings (no proxy): failed: does not match",
                             "pkginfo.txt: given up after 2 tries: it does not match the fingerprint in the setup"}))
        << log.text;

    // Without the pin the same transport takes the list again.
    transport->SetFingerprint(nullptr);
    WritePartList(layout, list);
    WriteFileText(layout.dir + "\\file002.bin", data.substr(2 * kPart, kPart));
    ASSERT_EQ(0, Fetch(layout.name));
}
