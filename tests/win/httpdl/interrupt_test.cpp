// Pause, resume and stop between parts, a server that cuts a part short and
// recovers, and a transport destroyed while its worker is inside a request
// (Suspend) with a new fetch of the same file waiting for it; the same with
// several parts in flight at once.
#include <new>

#include "fetch_support.h"

namespace {
const int kPart = 32 * 1024;
const int kParts = 6;

class Interrupts : public FetchFixture {
protected:
    void SetUp() override {
        FetchFixture::SetUp();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        data = PatternBytes(kParts * kPart, 11);
        ASSERT_TRUE(Publish(std::string("interrupt-") + info->name(), data, kPart, &layout));
        server = new ScriptedServer(WwwRoot());
        ASSERT_TRUE(server->Start());
        site = "http://127.0.0.1:" + std::to_string(server->Port());
    }
    void TearDown() override {
        if (server) server->Release();
        FetchFixture::TearDown();
        delete server;
    }
    std::string PartUrl(int n) const {
        char name[32];
        snprintf(name, sizeof name, "/file%03d.bin", n);
        return "/" + layout.name + name;
    }

    // Four parts at once over kept connections, the first held back and the
    // fourth damaged once: every other part comes in while the first is
    // held, progress counting each as it completes; then the first is let
    // go, and the file is joined in order with the damaged part alone
    // fetched again.
    void FetchFirstPartLast() {
        transport->SetConnections(4);
        server->KeepAlive(true);
        server->Script(PartUrl(0), {ScriptedServer::Hold});
        server->Script(PartUrl(3), {ScriptedServer::Damaged});
        Open(site);
        std::string remote = layout.name + "/";
        ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl3) == kParts - 1; }));
        EXPECT_EQ(1, server->HeldNow());
        EXPECT_EQ(static_cast<LPARAM>((kParts - 1) * kPart), recorder.Last(msgDl3)->lParam);
        EXPECT_EQ(0, recorder.Count(msgDl4));
        server->Release();
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
        EXPECT_EQ(0u, recorder.Last(msgDl4)->wParam);
        EXPECT_EQ(data, ReadFileBytes(Target()));
        for (int n = 0; n < kParts; ++n) EXPECT_EQ(n == 3 ? 2 : 1, server->Requests(PartUrl(n))) << n;
    }

    std::string data;
    Layout layout;
    ScriptedServer* server = nullptr;
    std::string site;
};
}  // namespace

TEST_F(Interrupts, PauseHoldsTheWorkerAndClearingDropsAStopMadeMeanwhile) {
    Open(site);
    recorder.onReport = [&](const Report& r) {
        if (r.message == msgDl3 && recorder.Count(msgDl3) == 2) {
            transport->Interrupt(1);
            transport->Interrupt(0);
        }
    };
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    // The worker is seen waiting in its pause, with no request after part 1.
    ASSERT_TRUE(PumpUntil([&] { return transport->state->pauseWaits > 0; }));
    EXPECT_EQ(0, server->Requests(PartUrl(2)));
    EXPECT_EQ(2, recorder.Count(msgDl3));
    transport->ClearInterrupt();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ(0u, recorder.Last(msgDl4)->wParam);
    EXPECT_EQ(kParts, recorder.Count(msgDl3));
    EXPECT_EQ(data, ReadFileBytes(Target()));
}

TEST_F(Interrupts, StopEndsTheWorkerBeforeItsNextPartWithoutAReport) {
    Open(site);
    recorder.onReport = [&](const Report& r) {
        if (r.message == msgDl3 && recorder.Count(msgDl3) == 2) transport->Interrupt(0);
    };
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    ASSERT_TRUE(PumpUntil([] { return WaitForFetchWorkers(0); }));
    EXPECT_EQ("dl1 dl2 dl3 dl3", recorder.Names());
    EXPECT_TRUE(FileExists(Part(1)));
    EXPECT_FALSE(FileExists(Part(2)));
    EXPECT_EQ(0, server->Requests(PartUrl(2)));

    // Fetched again, only the missing parts travel.
    recorder.onReport = nullptr;
    transport->ClearInterrupt();
    recorder.reports.clear();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(kParts - 2, recorder.Count(msgDl3));
    EXPECT_EQ(1, server->Requests(PartUrl(0)));
    EXPECT_EQ(1, server->Requests(PartUrl(kParts - 1)));
    EXPECT_EQ(data, ReadFileBytes(Target()));
}

TEST_F(Interrupts, PartCutShortThenRefusedIsFetchedAgain) {
    Open(site);
    server->Script(PartUrl(1), {ScriptedServer::CutShort, ScriptedServer::Unavailable});
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(3, server->Requests(PartUrl(1)));
    EXPECT_EQ(kParts, recorder.Count(msgDl3));
    EXPECT_EQ(data, ReadFileBytes(Target()));
}

TEST_F(Interrupts, StopIsHeardDuringTheGrowingPauseAfterFailures) {
    Open(site);
    server->Script(PartUrl(0), std::vector<ScriptedServer::Action>(50, ScriptedServer::Unavailable));
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    // Two failed tries mean the worker is in its pause of two seconds.
    ASSERT_TRUE(PumpUntil([&] { return server->Requests(PartUrl(0)) >= 2; }));
    transport->Interrupt(0);
    ASSERT_TRUE(PumpUntil([] { return WaitForFetchWorkers(0); }, 10000));
    EXPECT_LE(server->Requests(PartUrl(0)), 3);
    EXPECT_EQ(0, recorder.Count(msgDl4));
}

TEST_F(Interrupts, SuspendDuringAPartThenResumeAtOnce) {
    Open(site);
    // The first transport lives in pages of its own that are given back to
    // the system when it is destroyed: any later touch of it would fault.
    void* pages = VirtualAlloc(nullptr, sizeof(HttpDownloader), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, pages);
    HttpDownloader* first = new (pages) HttpDownloader;
    ASSERT_TRUE(first->CreateMessageWindow(recorder.hwnd));
    first->state->timeouts = transport->state->timeouts;
    first->Open(site.c_str(), "", "");
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl1) == 2; }));

    server->Script(PartUrl(2), {ScriptedServer::Hold});
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, first->Fetch(remote.c_str(), Target().c_str()));
    ASSERT_TRUE(PumpUntil([&] { return server->HeldNow() == 1; }));
    EXPECT_EQ(2, recorder.Count(msgDl3));
    recorder.reports.clear();

    // A second worker for the same files waits while the first one is
    // still inside its request.
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    ASSERT_TRUE(PumpUntil([&] { return transport->state->waitingForEarlier == 1; }));
    EXPECT_EQ(1, server->Requests("/" + layout.name + "/pkginfo.txt"));

    // Suspend: stop, the dialog and its transports end. The first worker
    // gives up its request at once, though the server still holds it.
    first->Interrupt(0);
    first->~HttpDownloader();
    ASSERT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) == 1; }));
    EXPECT_EQ(0u, recorder.Last(msgDl4)->wParam);
    EXPECT_EQ(1, server->HeldNow());
    // The old worker ended silently; the new one began only after it and
    // fetched what was still missing, part 2 included.
    EXPECT_EQ("dl2 dl3 dl3 dl3 dl3 dl4", recorder.Names());
    EXPECT_EQ(2, server->Requests(PartUrl(2)));
    EXPECT_EQ(data, ReadFileBytes(Target()));
}

// Four parts in flight over kept connections: parts that come in before the
// first one are held until it does and the file is joined in order; a
// damaged part alone travels again; a later fetch with parts 0, 2 and 5 on
// the disk asks only for the others.
TEST_F(Interrupts, PartsInFlightJoinInOrderAndOnlyWhatIsMissingTravels) {
    RunLogLines log;
    ASSERT_NO_FATAL_FAILURE(FetchFirstPartLast());
    // The list and seven part requests over no more connections than were
    // in flight.
    EXPECT_LE(server->Connections(), 4);
    EXPECT_TRUE(log.InOrder({": complete; parts: 6 fetched, 0 present, 1 retries; "})) << log.text;

    for (int n : {1, 3, 4}) ASSERT_TRUE(DeleteFileA(Part(n).c_str()));
    recorder.reports.clear();
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    for (int n = 0; n < kParts; ++n) EXPECT_EQ(n == 3 ? 3 : n == 1 || n == 4 ? 2 : 1, server->Requests(PartUrl(n))) << n;
    EXPECT_EQ(3, recorder.Count(msgDl3));
    EXPECT_EQ(static_cast<LPARAM>(kParts * kPart), recorder.Last(msgDl3)->lParam);
    EXPECT_TRUE(log.InOrder({": complete; parts: 3 fetched, 3 present, 0 retries; "})) << log.text;
}

// A stop while four parts are coming in slowly ends every connection at
// once; only the parts that came whole and checked are on the disk.
TEST_F(Interrupts, StopWithPartsInFlightLeavesOnlyCheckedParts) {
    transport->SetConnections(4);
    // Two parts halfway through their bodies, two waiting for their heads.
    for (int n = 2; n < kParts; ++n) server->Script(PartUrl(n), {n < 4 ? ScriptedServer::Trickle : ScriptedServer::Hold});
    Open(site);
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    ASSERT_TRUE(PumpUntil([&] {
        return server->Requests(PartUrl(2)) + server->Requests(PartUrl(3)) + server->Requests(PartUrl(4)) +
                   server->Requests(PartUrl(5)) == 4 && recorder.Count(msgDl3) == 2;
    }));
    transport->Interrupt(0);
    // Within the waits' slice, not the held parts' minute.
    ASSERT_TRUE(PumpUntil([] { return WaitForFetchWorkers(0); }, 5000));
    EXPECT_EQ(0, recorder.Count(msgDl4));
    EXPECT_EQ(2, server->HeldNow());
    // A slow part that still came whole is kept; nothing else is there.
    for (int n = 0; n < kParts; ++n) {
        if (n < 2 || (n < 4 && FileExists(Part(n))))
            EXPECT_EQ(data.substr(static_cast<size_t>(n) * kPart, kPart), ReadFileBytes(Part(n))) << n;
        else EXPECT_FALSE(FileExists(Part(n))) << n;
    }
}

// Parts too large to wait in memory (a small bound here) go to their files
// as they arrive and are joined from there, in order: a damaged one travels
// again, no unchecked file is left, and a part file changed on the disk is
// not taken on the next fetch.
TEST_F(Interrupts, PartsTooLargeForMemoryGoThroughTheirFiles) {
    RunLogLines log;
    transport->state->partMemory = 2 * kPart;
    ASSERT_NO_FATAL_FAILURE(FetchFirstPartLast());
    EXPECT_TRUE(log.InOrder({": 6 parts, up to 4 at once, each through its file",
                             "part file003.bin: try 1 failed (the sum does not match the part list)"}))
        << log.text;
    for (int n = 0; n < kParts; ++n) {
        EXPECT_EQ(data.substr(static_cast<size_t>(n) * kPart, kPart), ReadFileBytes(Part(n))) << n;
        EXPECT_FALSE(FileExists(Part(n) + ".new")) << n;
    }

    std::string changed = data.substr(2 * kPart, kPart);
    changed[7] ^= 0x21;
    WriteFileText(Part(2), changed);
    ASSERT_TRUE(DeleteFileA(Part(1).c_str()));
    ASSERT_EQ(0, Fetch(layout.name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    for (int n = 0; n < kParts; ++n) EXPECT_EQ(n == 1 || n == 2 || n == 3 ? 2 : 1, server->Requests(PartUrl(n))) << n;
}
