// A 64 MiB component in 1 MiB parts: fetched, stopped after some parts, and
// fetched again with only the missing parts travelling, counted in the web
// server's own access log.
#include <algorithm>

#include "fetch_support.h"
#include "../../tier_servers.h"

namespace {
const int kMiB = 1024 * 1024;
const int kParts = 64;
const int kStopAfter = 10;

// Requests for parts of the layout recorded in the access log so far, per
// part number.
std::vector<int> PartRequests(const std::string& layout) {
    std::vector<int> counts(kParts, 0);
    std::string log = ReadFileBytes(WinPath(Env("CV_SRV_DIR") + "/nginx/access.log"));
    std::string key = "GET /" + layout + "/file";
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        int n = atoi(log.c_str() + at + key.size());
        if (n >= 0 && n < kParts) ++counts[n];
    }
    return counts;
}

int Sum(const std::vector<int>& v) {
    int total = 0;
    for (int x : v) total += x;
    return total;
}

class LargeFetch : public FetchFixture {};
}  // namespace

TEST_F(LargeFetch, StoppedAndFetchedAgainTransfersOnlyTheMissingParts) {
    CV_REQUIRE_TIER(!Env("CV_SRV_DIR").empty(), "the web server of the test tier");
    std::string data = PatternBytes(static_cast<size_t>(kParts) * kMiB, 64);
    Layout layout;
    ASSERT_TRUE(Publish("large64", data, kMiB, &layout));
    std::vector<int> before = PartRequests(layout.name);
    Open(NginxSite());

    recorder.onReport = [&](const Report& r) {
        if (r.message == msgDl3 && recorder.Count(msgDl3) == kStopAfter) transport->Interrupt(0);
    };
    std::string remote = layout.name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    ASSERT_TRUE(PumpUntil([] { return WaitForFetchWorkers(0); }, 300000));
    EXPECT_EQ(kStopAfter, recorder.Count(msgDl3));
    EXPECT_EQ(0, recorder.Count(msgDl4));
    EXPECT_EQ(static_cast<LPARAM>(data.size()), recorder.reports[1].lParam);

    // The server saw exactly the parts fetched before the stop.
    std::vector<int> stopped;
    ASSERT_TRUE(PumpUntil([&] { return Sum(stopped = PartRequests(layout.name)) - Sum(before) >= kStopAfter; },
                          10000));
    for (int n = 0; n < kParts; ++n) EXPECT_EQ(before[n] + (n < kStopAfter ? 1 : 0), stopped[n]) << n;

    recorder.onReport = nullptr;
    recorder.reports.clear();
    transport->ClearInterrupt();
    ASSERT_EQ(0, Fetch(layout.name, 600000));
    EXPECT_EQ(kParts - kStopAfter, recorder.Count(msgDl3));
    std::vector<int> after;
    ASSERT_TRUE(PumpUntil([&] { return Sum(after = PartRequests(layout.name)) - Sum(before) >= kParts; }, 10000));
    // Every part travelled once over both runs: the first ten were not
    // fetched again.
    for (int n = 0; n < kParts; ++n) EXPECT_EQ(before[n] + 1, after[n]) << n;
    EXPECT_TRUE(ReadFileBytes(Target()) == data);
    RemoveTree(layout.dir);
    RemoveTree(local);
}
