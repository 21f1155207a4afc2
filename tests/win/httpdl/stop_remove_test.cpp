// The end of a run while a part is coming in slowly: the transport is
// stopped and shut down as the session does after a confirmed Quit, and the
// download folder is deleted at once, without a second try. Repeated, so
// that a worker still holding or just creating a part file would show.
#include "fetch_support.h"

#include "setup/download_folder_win.h"

namespace {
const int kPart = 64 * 1024;
const int kParts = 4;
const DWORD kStopBound = 5000;  // what the session allows

bool Gone(const std::string& path) { return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES; }

class StopAndRemove : public FetchFixture {
protected:
    void SetUp() override {
        FetchFixture::SetUp();
        ASSERT_TRUE(Publish("stop-remove", PatternBytes(kParts * kPart, 5), kPart, &layout));
        server = new ScriptedServer(WwwRoot());
        ASSERT_TRUE(server->Start());
        site = "http://127.0.0.1:" + std::to_string(server->Port());
    }
    void TearDown() override {
        if (server) server->Release();
        FetchFixture::TearDown();
        delete server;
    }
    // A transport of its own for each run, as each session has.
    void NewTransport() {
        delete transport;
        transport = new HttpDownloader;
        ASSERT_NE(nullptr, transport->state);
        ASSERT_TRUE(transport->CreateMessageWindow(recorder.hwnd));
        transport->state->timeouts.connectSeconds = 2;
        transport->state->timeouts.ioSeconds = 10;
        transport->state->timeouts.retrySleepMs = 20;
    }
    // Starts a fetch into `folder` whose part 1 trickles, and waits until
    // the worker is inside that part, its request answered.
    void StartInsidePart1(const std::string& folder) {
        NewTransport();
        Open(site);
        server->Script("/" + layout.name + "/file001.bin", {ScriptedServer::Trickle});
        std::string remote = layout.name + "/";
        std::string target = folder + "\\tmp.tmp";
        ASSERT_EQ(1, transport->Fetch(remote.c_str(), target.c_str()));
        std::string path = "/" + layout.name + "/file001.bin";
        ASSERT_TRUE(PumpUntil([&] { return server->Requests(path) > 0; }, 30000));
    }

    Layout layout;
    ScriptedServer* server = nullptr;
    std::string site;
};
}  // namespace

TEST_F(StopAndRemove, QuitInThePartOfASlowServerLeavesNothingBehind) {
    for (int run = 0; run < 50; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        std::string folder = TestDirectory("stop-remove-" + std::to_string(run));
        ASSERT_NO_FATAL_FAILURE(StartInsidePart1(folder));
        // "&Quit" pauses, "&Yes" clears the pause and stops; the session
        // then shuts the transport down before it removes the folder.
        transport->Interrupt(1);
        transport->ClearInterrupt();
        transport->Interrupt(0);
        ASSERT_TRUE(transport->Shutdown(kStopBound));
        // The worker let go in the middle of the part, not at its end: a
        // part reaches the disk only whole and checked.
        EXPECT_TRUE(Gone(folder + "\\file001.bin"));
        DeleteTree(folder.c_str());
        ASSERT_TRUE(Gone(folder)) << "left behind in " << folder;
        // Nothing comes after the stop.
        EXPECT_EQ(0, recorder.Count(msgDl4));
    }
}

TEST_F(StopAndRemove, WorkerPausedByTheQuitQuestionEndsWhenTheRunEnds) {
    // A download folder is removed only where the program makes them.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char name[32];
    snprintf(name, sizeof name, "inst%08lx.tmp", static_cast<unsigned long>(GetCurrentProcessId()));
    std::string folder = std::string(temp) + name;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    ASSERT_NO_FATAL_FAILURE(StartInsidePart1(folder));
    // The question is still open when the run ends otherwise (the Windows
    // session ends): the part is finished, then the worker waits paused.
    transport->Interrupt(1);
    ASSERT_TRUE(PumpUntil([&] { return transport->state->pauseWaits > 0; }));
    ASSERT_TRUE(transport->Shutdown(kStopBound));
    DownloadFolder download = {};
    download.instance = GetModuleHandleA(nullptr);
    snprintf(download.path, sizeof download.path, "%s", folder.c_str());
    EXPECT_EQ(1, RemoveDownloadFolder(&download));
    EXPECT_TRUE(Gone(folder));
    EXPECT_EQ(0, recorder.Count(msgDl4));
}
