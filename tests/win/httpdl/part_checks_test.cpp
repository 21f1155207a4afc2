// Parts are checked against their sums as they arrive: a damaged part is a
// failed try and is fetched again, never joined nor kept. A part, or a part
// list, that keeps failing is given up after the transport's tries, and the
// fetch ends with "dl4" 4 instead of trying for ever.
#include "fetch_support.h"

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
    // A transport that gives up after `tries` failed tries, in place of
    // the fixture's.
    void UseTries(int tries) {
        HttpTimeouts timeouts = transport->state->timeouts;
        delete transport;
        transport = new HttpDownloader(tries);
        ASSERT_NE(nullptr, transport->state);
        ASSERT_TRUE(transport->CreateMessageWindow(recorder.hwnd));
        transport->state->timeouts = timeouts;
    }
    std::string Url(const std::string& name) const { return "/" + layout.name + "/" + name; }
    std::string PartUrl(int n) const {
        char name[32];
        snprintf(name, sizeof name, "file%03d.bin", n);
        return Url(name);
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

TEST_F(PartChecks, PartDamagedOrMissingEveryTimeIsGivenUp) {
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

    // A part the server does not have (404) ends the same way; the parts
    // before it are not fetched again.
    DeleteFileA((layout.dir + "\\file002.bin").c_str());
    recorder.reports.clear();
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(3 + 3, server->Requests(PartUrl(2)));
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_EQ("dl2 dl4", recorder.Names());
}

TEST_F(PartChecks, PartListThatCannotBeHadIsGivenUp) {
    UseTries(2);
    Open(site);
    DeleteFileA((layout.dir + "\\pkginfo.txt").c_str());
    // Configured (no proxy) and Direct fail; with no browser proxy and the
    // tries spent, no settings dialog is shown.
    EXPECT_EQ(4, Fetch(layout.name));
    EXPECT_EQ(2, server->Requests(Url("pkginfo.txt")));
    EXPECT_EQ("dl1 dl4", recorder.Names());
    EXPECT_EQ(nullptr, transport->state->settingsDialog);
}
