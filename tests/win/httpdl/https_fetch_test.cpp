// Whole fetches of an "http" component from an https site of the TLS
// nginx: the joined file byte for byte, a resume after a stop that asks only
// for the missing parts (counted in the server's access log), and a
// certificate that fails: its own report, no retries, nothing written as
// the component; a certificate whose revocation cannot be checked is
// accepted, and the run log says so. The TLS servers are part of the tier;
// without them these tests fail.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "download/fetch_rules.h"
#include "fetch_support.h"
#include "http/secure_channel.h"
#include "resources/resource.h"

namespace {
const int kPart = 48 * 1024;
const int kParts = 6;

class HttpsFetch : public FetchFixture {
protected:
    void SetUp() override {
        FetchFixture::SetUp();
        ASSERT_FALSE(Env("CV_HTTPS_PORT").empty() || Env("CV_SRV_DIR").empty())
            << "the TLS test servers are not configured";
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // A name of this run's own: the server's log outlives one run.
        name = std::string("https-") + info->name() + "-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount());
        data = PatternBytes(kParts * kPart + 777, 21);
        ASSERT_TRUE(Publish(name, data, kPart, &layout));
    }
    static std::string Site(const char* portVariable) { return "https://localhost:" + Env(portVariable); }
    // Requests for `path` in the TLS nginx's access log.
    static int Logged(const std::string& path) {
        std::ifstream log(WinPath(Env("CV_SRV_DIR") + "/nginx-tls/access.log"));
        std::string line;
        int n = 0;
        while (std::getline(log, line))
            if (line.find("\"GET " + path + " ") != std::string::npos) ++n;
        return n;
    }
    std::string PartPath(int n) const {
        char file[32];
        snprintf(file, sizeof file, "/file%03d.bin", n);
        return "/" + name + file;
    }

    std::string name, data;
    Layout layout;
};
}  // namespace

TEST_F(HttpsFetch, ComponentArrivesWholeAndResumesAfterAStop) {
    Open(Site("CV_HTTPS_PORT"));
    recorder.onReport = [&](const Report& r) {
        if (r.message == msgDl3 && recorder.Count(msgDl3) == 2) transport->Interrupt(0);
    };
    std::string remote = name + "/";
    ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
    ASSERT_TRUE(PumpUntil([] { return WaitForFetchWorkers(0); }));
    EXPECT_EQ("dl1 dl2 dl3 dl3", recorder.Names());
    EXPECT_TRUE(FileExists(Part(1)));
    EXPECT_FALSE(FileExists(Part(2)));

    recorder.onReport = nullptr;
    transport->ClearInterrupt();
    recorder.reports.clear();
    ASSERT_EQ(0, Fetch(name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    // Parts 0 and 1 went over the wire once, the others once after the
    // resume.
    for (int n = 0; n <= kParts; ++n) EXPECT_EQ(1, Logged(PartPath(n))) << n;
}

TEST_F(HttpsFetch, ACertificateThatFailsIsReportedAndNothingIsWritten) {
    struct Case {
        const char* port;
        int reason;
        const char* text;
    } cases[] = {{"CV_HTTPS_EXPIRED_PORT", TlsExpired, "has expired"},
                 {"CV_HTTPS_WRONG_NAME_PORT", TlsWrongName, "was issued for another name"},
                 {"CV_HTTPS_UNTRUSTED_LEAF_PORT", TlsNotTrusted, "is not trusted"},
                 {"CV_HTTPS_REVOKED_PORT", TlsRevoked, "has been revoked by its issuer"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        Open(Site(c.port));
        int before = recorder.Count(msgDl4);
        std::string remote = name + "/";
        ASSERT_EQ(1, transport->Fetch(remote.c_str(), Target().c_str()));
        // Every arrangement fails alike, so the settings dialog comes, and
        // says why; the user cancels it.
        std::string expected = std::string("Error: The certificate of 'localhost' ") + c.text +
                               ". Nothing is downloaded from this site.";
        char text[400] = "";
        ASSERT_TRUE(PumpUntil([&] {
            HWND dialog = transport->state->settingsDialog;
            if (!dialog) return false;
            GetDlgItemTextA(dialog, IDC_SETTINGS_NOTICE, text, sizeof text);
            return expected == text;
        })) << text;
        PostMessageA(transport->state->settingsDialog, WM_COMMAND, 1009, 0);
        ASSERT_TRUE(PumpUntil([&] { return recorder.Count(msgDl4) > before; }));
        const Report* last = recorder.Last(msgDl4);
        EXPECT_EQ(WPARAM(kFetchCertificateFailed), last->wParam);
        EXPECT_EQ(c.reason, static_cast<int>(last->lParam));
        EXPECT_FALSE(FileExists(local + "\\pkginfo.txt"));
        EXPECT_FALSE(FileExists(Part(0)));
        EXPECT_TRUE(ReadFileBytes(Target()).empty());
    }
    // Nothing of the component was asked for on any of those servers.
    EXPECT_EQ(0, Logged("/" + name + "/pkginfo.txt"));
}

TEST_F(HttpsFetch, ARevocationServerOutOfReachIsLoggedAndTheFetchGoesOn) {
    RunLogLines log;
    Open(Site("CV_HTTPS_CRL_OFFLINE_PORT"));
    ASSERT_EQ(0, Fetch(name));
    EXPECT_EQ(data, ReadFileBytes(Target()));
    std::string text = log.Text();
    const char line[] = "certificate of localhost accepted; its revocation could not be checked (its revocation "
                        "server could not be reached)";
    size_t at = text.find(line);
    EXPECT_NE(std::string::npos, at) << text;
    // Once for the fetch, not once for every part.
    EXPECT_EQ(std::string::npos, text.find(line, at + 1)) << text;
}
