// LogEvent through a sink in memory: whole lines with stamps, secrets the
// program learnt masked wherever they appear, long texts cut only after
// masking, and nothing at all without a sink.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/message_answer.h"
#include "base/run_log.h"

namespace {
class MemorySink : public LogSink {
public:
    void Now(LogTime* t) override { *t = LogTime{2026, 1, 2, 3, 4, 5, 6}; }
    void Write(const char* line, int length) override {
        std::lock_guard<std::mutex> hold(lock);
        lines.push_back(std::string(line, static_cast<size_t>(length)));
    }
    std::mutex lock;
    std::vector<std::string> lines;
};

class RunLog : public ::testing::Test {
protected:
    void SetUp() override {
        ClearLogSecrets();
        SetLogSink(&sink);
    }
    void TearDown() override {
        SetLogSink(nullptr);
        ClearLogSecrets();
    }
    MemorySink sink;
};
}  // namespace

TEST_F(RunLog, OneStampedLinePerEvent) {
    LogEvent("fetched %s: %d parts", "a.bin", 6);
    ASSERT_EQ(1u, sink.lines.size());
    EXPECT_EQ("2026-01-02 03:04:05.006 fetched a.bin: 6 parts\r\n", sink.lines[0]);
}

TEST_F(RunLog, NothingWithoutASink) {
    SetLogSink(nullptr);
    LogEvent("lost");
    EXPECT_TRUE(sink.lines.empty());
}

TEST_F(RunLog, LearntSecretsAreMaskedEverywhere) {
    AddLogSecret("open sesame");
    AddLogSecret("open sesame");  // once is enough
    AddLogSecret("x");            // too short to hunt for
    AddLogSecret(nullptr);
    LogEvent("proxy %s:%s@%s tried; typed \"%s\"", "bob", "open sesame", "p:80", "open sesame");
    ASSERT_EQ(1u, sink.lines.size());
    EXPECT_EQ(std::string::npos, sink.lines[0].find("sesame")) << sink.lines[0];
    EXPECT_NE(std::string::npos, sink.lines[0].find("bob:***@p:80")) << sink.lines[0];
}

TEST_F(RunLog, SecretsBeyondTheTableAreStillMaskedByPattern) {
    for (int i = 0; i < kMaxLogSecrets + 4; ++i) AddLogSecret(("secret-" + std::to_string(i)).c_str());
    std::string last = "secret-" + std::to_string(kMaxLogSecrets + 3);
    LogEvent("password=%s and %s", last.c_str(), "secret-0");
    EXPECT_EQ(std::string::npos, sink.lines[0].find("secret-")) << sink.lines[0];
}

TEST_F(RunLog, LongTextIsCutAfterMasking) {
    // The password sits right where a cut before masking would fall.
    std::string head(kLogLineSize - 40, 'h');
    std::string text = head + " user:topsecretpassword@host";
    LogEvent("%s", text.c_str());
    ASSERT_EQ(1u, sink.lines.size());
    const std::string& line = sink.lines[0];
    EXPECT_LE(static_cast<int>(line.size()), kLogLineSize - 1);
    EXPECT_EQ("\r\n", line.substr(line.size() - 2));
    EXPECT_EQ(std::string::npos, line.find("top")) << line.substr(line.size() - 60);

    std::string huge(100000, 'z');
    LogEvent("start %s", huge.c_str());
    EXPECT_EQ(kLogLineSize - 1, static_cast<int>(sink.lines[1].size()));
}

TEST_F(RunLog, LinesFromManyThreadsStayWhole) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) LogEvent("thread %d line %d", t, i);
        });
    for (auto& th : threads) th.join();
    ASSERT_EQ(800u, sink.lines.size());
    for (const auto& l : sink.lines) EXPECT_EQ(0u, l.find("2026-01-02 03:04:05.006 thread ")) << l;
}

// A message nobody can answer is taken as the button Enter would press.
TEST(UnattendedMessage, TakesTheDefaultButton) {
    const unsigned ok = 0, okCancel = 1, yesNoCancel = 3, yesNo = 4, second = 0x100, third = 0x200;
    const unsigned errorIcon = 0x10, foreground = 0x10000;
    EXPECT_EQ(1, DefaultMessageAnswer(ok | errorIcon | foreground));      // IDOK
    EXPECT_EQ(6, DefaultMessageAnswer(yesNoCancel | 0x20));               // IDYES
    EXPECT_EQ(7, DefaultMessageAnswer(yesNo | second));                   // IDNO
    EXPECT_EQ(2, DefaultMessageAnswer(yesNoCancel | third));              // IDCANCEL
    EXPECT_EQ(2, DefaultMessageAnswer(okCancel | second));                // IDCANCEL
    // A default place beyond the buttons, or a set the system does not
    // have, gives the first button.
    EXPECT_EQ(6, DefaultMessageAnswer(yesNo | third));
    EXPECT_EQ(1, DefaultMessageAnswer(ok | 0x300));
    EXPECT_EQ(1, DefaultMessageAnswer(0xF));
}
