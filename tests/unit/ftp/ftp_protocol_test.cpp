// Tests of the FTP protocol logic against a recording link: which commands
// go out and which reports are made for given replies and socket events.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/run_log.h"
#include "download/ftp_protocol.h"

namespace {

struct Rep {
    FtpReport report;
    int code;
    long long value;
    bool operator==(const Rep& o) const { return report == o.report && code == o.code && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const Rep& r) {
    return os << "dl" << (static_cast<int>(r.report) + 1) << "(" << r.code << "," << r.value << ")";
}

class RecordingLink : public FtpLink {
public:
    std::vector<std::string> commands;
    std::vector<Rep> reports;
    std::deque<std::string> blocks;  // what the data connection delivers
    bool dataEnded = false;          // after the blocks: 0 instead of would-block
    bool receiveError = false;
    bool writeFails = false;
    bool sendFails = false;
    int connectResult = kFtpConnectStarted;
    bool passiveOk = true, activeOk = true;
    std::vector<int> passive;  // ports asked for in passive mode
    int actives = 0, dataCloses = 0, controlCloses = 0;
    std::string written;
    std::function<void(const Rep&)> onReport;

    bool SendCommand(const char* text, int length) override {
        if (sendFails) return false;
        commands.emplace_back(text, length);
        return true;
    }
    void Report(FtpReport report, int code, long long value) override {
        reports.push_back({report, code, value});
        if (onReport) onReport(reports.back());
    }
    int StartControlConnection() override { return connectResult; }
    void CloseControlConnection() override { ++controlCloses; }
    bool OpenPassiveData(int port) override {
        passive.push_back(port);
        return passiveOk;
    }
    bool OpenActiveData(FtpAddress* local) override {
        ++actives;
        local->bytes[0] = 127; local->bytes[1] = 0; local->bytes[2] = 0; local->bytes[3] = 1;
        local->port = 0x1234;
        return activeOk;
    }
    int ReceiveData(char* buffer, int size) override {
        if (receiveError) return kFtpReceiveError;
        if (blocks.empty()) return dataEnded ? 0 : kFtpWouldBlock;
        std::string b = blocks.front();
        blocks.pop_front();
        EXPECT_LE(static_cast<int>(b.size()), size);
        std::copy(b.begin(), b.end(), buffer);
        return static_cast<int>(b.size());
    }
    bool WriteData(const char* data, int length) override {
        if (writeFails) return false;
        written.append(data, length);
        return true;
    }
    void CloseDataConnection() override { ++dataCloses; }

    std::vector<Rep> Of(FtpReport kind) const {
        std::vector<Rep> out;
        for (const Rep& r : reports)
            if (r.report == kind) out.push_back(r);
        return out;
    }
};

class FtpProtocolTest : public ::testing::Test {
protected:
    RecordingLink link;
    FtpProtocol ftp{link};

    // Hands text to the framing as if one receive had brought it.
    void Receive(const std::string& text) {
        size_t at = 0;
        while (at < text.size()) {
            int room;
            char* area = ftp.ReceiveArea(&room);
            ASSERT_GT(room, 0);
            int n = static_cast<int>(std::min<size_t>(room, text.size() - at));
            std::copy(text.begin() + at, text.begin() + at + n, area);
            ftp.ControlReceived(n);
            at += n;
        }
    }
    void Connect() {
        ftp.BeginOpen("ftp.example");
        ftp.LookupDone(true);
        ftp.ControlConnected(0);
    }
    void Login() {
        Connect();
        Receive("220 ready\r\n331 pass\r\n");
        Receive("230 in\r\n200 binary\r\n");
        ASSERT_EQ(FtpState::CONNECTED, ftp.state());
        link.commands.clear();
        link.reports.clear();
    }
    // Up to the 1xx reply of a passive transfer of `path`.
    void StartPassive(const char* path = "dir/file.bin") {
        Login();
        ASSERT_TRUE(ftp.BeginFetch(path));
        Receive("227 Entering Passive Mode (127,0,5,21,4,1).\r\n");
    }
};

TEST(FtpParsers, PassiveAddress) {
    FtpAddress a;
    ASSERT_TRUE(ParsePassiveAddress("227 Entering Passive Mode (127,0,5,21,195,80).", &a));
    EXPECT_EQ(127, a.bytes[0]);
    EXPECT_EQ(0, a.bytes[1]);
    EXPECT_EQ(5, a.bytes[2]);
    EXPECT_EQ(21, a.bytes[3]);
    EXPECT_EQ(195 * 256 + 80, a.port);
    // Numbers are found by skipping whatever is not a digit.
    ASSERT_TRUE(ParsePassiveAddress("227 =( 10 , 1 ;2 x3 , 0 ,21)", &a));
    EXPECT_EQ(10, a.bytes[0]);
    EXPECT_EQ(21, a.port);
    // Digits before "(" do not count.
    ASSERT_TRUE(ParsePassiveAddress("227 1 2 3 (9,9,9,9,0,1)", &a));
    EXPECT_EQ(9, a.bytes[0]);
    EXPECT_FALSE(ParsePassiveAddress("227 Entering Passive Mode 127,0,0,1,4,1", &a));
    EXPECT_FALSE(ParsePassiveAddress("227 Entering Passive Mode (127,0,5)", &a));
    EXPECT_FALSE(ParsePassiveAddress("227 (127,0,0,1,4,", &a));
    EXPECT_FALSE(ParsePassiveAddress("227 (300,0,0,1,4,1)", &a));
    EXPECT_FALSE(ParsePassiveAddress("227 (1,2,3,4,99999999999999999999,1)", &a));
    EXPECT_FALSE(ParsePassiveAddress("227 (1,2,3,4,0,0)", &a));
}

TEST(FtpParsers, TransferSize) {
    EXPECT_EQ(123456, ParseTransferSize("150 Opening BINARY mode data connection for a.bin (123456 bytes).\r\n"));
    EXPECT_EQ(-1, ParseTransferSize("150 Here comes the file.\r\n"));
    EXPECT_EQ(42, ParseTransferSize("150 Opening data connection for file42.bin\r\n"));
    // The reply code itself never counts as a size.
    EXPECT_EQ(-1, ParseTransferSize("150\r\n"));
    EXPECT_EQ(-1, ParseTransferSize("150 \r\n"));
    EXPECT_EQ(7, ParseTransferSize("1507"));
    EXPECT_EQ(-1, ParseTransferSize("15"));
    EXPECT_EQ(-1, ParseTransferSize(""));
    EXPECT_EQ(2147483647, ParseTransferSize("150 x (2147483647 bytes)"));
    EXPECT_EQ(-1, ParseTransferSize("150 x (99999999999999999999999999 bytes)"));
    // The announced size needs "bytes" after its digits.
    EXPECT_EQ(123456, ParseAnnouncedSize("150 Opening BINARY mode data connection for a7.bin (123456 bytes).\r\n"));
    EXPECT_EQ(5368709120LL, ParseAnnouncedSize("150 x (5368709120 BYTES)"));
    EXPECT_EQ(12, ParseAnnouncedSize("150 12bytes"));
    EXPECT_EQ(-1, ParseAnnouncedSize("150 Opening data connection for file123.bin\r\n"));
    EXPECT_EQ(-1, ParseAnnouncedSize("150 1234.5 kbytes to download"));
    EXPECT_EQ(-1, ParseAnnouncedSize("150 x (12 byte)"));
    EXPECT_EQ(-1, ParseAnnouncedSize("150 x (99999999999999999999999999 bytes)"));
}

TEST(FtpParsers, PortCommand) {
    FtpAddress a = {{127, 0, 5, 22}, 0xC350};
    char line[40];
    int n = FormatPortCommand(a, line, sizeof line);
    EXPECT_EQ("PORT 127,0,5,22,195,80\r\n", std::string(line, n));
}

// An FTP site is read by the URL parser: the scheme in any case, a port of
// its own, a folder before the remote paths; a port that is no port or a
// text without a host is refused, never looked up.
TEST(FtpParsers, SiteText) {
    FtpSite site;
    ASSERT_TRUE(ParseFtpSite("ftp.example.com", &site));
    EXPECT_STREQ("ftp.example.com", site.host);
    EXPECT_EQ(21, site.port);
    EXPECT_STREQ("", site.folder);
    ASSERT_TRUE(ParseFtpSite("FTP://anon:x@ftp.example.com:2121/pub/quorrin", &site));
    EXPECT_STREQ("ftp.example.com", site.host);
    EXPECT_EQ(2121, site.port);
    EXPECT_STREQ("pub/quorrin/", site.folder);
    ASSERT_TRUE(ParseFtpSite("127.0.0.21/", &site));
    EXPECT_STREQ("", site.folder);
    for (const char* bad : {"", "ftp://", "h:0", "h:70000/pub", "h:21x"}) EXPECT_FALSE(ParseFtpSite(bad, &site)) << bad;
}

TEST_F(FtpProtocolTest, MultiLineGreetingIsAnsweredWithOneUser) {
    Connect();
    Receive("220-Welcome\r\n220-to the server\r\n220 ready\r\n");
    EXPECT_EQ(std::vector<std::string>{"USER anonymous\r\n"}, link.commands);
    EXPECT_EQ(FtpState::SEND_PASSWORD, ftp.state());
}

TEST_F(FtpProtocolTest, ContinuationLinesWithoutCodeStayInTheirReply) {
    Connect();
    Receive("220-Welcome\r\n  to the server\r\n123 not the end\r\n220 ready\r\n");
    EXPECT_EQ(std::vector<std::string>{"USER anonymous\r\n"}, link.commands);
    EXPECT_TRUE(link.reports.empty());
    EXPECT_EQ(0, ftp.replyLength());
}

TEST_F(FtpProtocolTest, ReplyInPiecesIsHandledOnceWhenComplete) {
    Connect();
    for (char c : std::string("220-a\r\n220 b\r\n")) {
        Receive(std::string(1, c));
        if (c != '\n' || link.commands.empty()) continue;
    }
    EXPECT_EQ(1u, link.commands.size());
    Receive("33");
    Receive("1 pass");
    EXPECT_EQ(1u, link.commands.size());
    Receive("word please\r");
    Receive("\n");
    ASSERT_EQ(2u, link.commands.size());
    EXPECT_EQ("PASS cvget@corvane.com\r\n", link.commands[1]);
}

TEST_F(FtpProtocolTest, TwoRepliesInOnePieceAreHandledInTurn) {
    Connect();
    Receive("220 hi\r\n331 pass\r\n230 ok\r\n200 ");
    EXPECT_EQ((std::vector<std::string>{"USER anonymous\r\n", "PASS cvget@corvane.com\r\n", "TYPE I\r\n"}),
              link.commands);
    EXPECT_EQ(FtpState::INIT_DONE, ftp.state());
    Receive("I\n");
    EXPECT_EQ(FtpState::CONNECTED, ftp.state());
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 0, 0}}), link.reports);
}

TEST_F(FtpProtocolTest, LoginVariants) {
    // A 2xx to USER needs no password: TYPE I follows.
    Connect();
    Receive("220 hi\r\n230 Login successful.\r\n");
    EXPECT_EQ((std::vector<std::string>{"USER anonymous\r\n", "TYPE I\r\n"}), link.commands);
    // A 1xx to USER waits for the next reply.
    link.commands.clear();
    Connect();
    Receive("220 hi\r\n120 wait\r\n");
    EXPECT_EQ(1u, link.commands.size());
    Receive("331 pass\r\n");
    EXPECT_EQ(2u, link.commands.size());
}

TEST_F(FtpProtocolTest, EmptyUserKeepsTheAnonymousLogin) {
    ftp.SetCredentials("", "");
    EXPECT_STREQ("anonymous", ftp.user());
    EXPECT_STREQ("cvget@corvane.com", ftp.password());
    ftp.SetCredentials("alice", "");
    EXPECT_STREQ("alice", ftp.user());
    EXPECT_STREQ("", ftp.password());
    std::string longUser(300, 'u');
    ftp.SetCredentials(longUser.c_str(), "pw");
    EXPECT_EQ(99u, std::string(ftp.user()).size());
    // A line break in a value never reaches the server as a second command.
    ftp.SetCredentials("bob\r\nDELE x", "pw");
    Connect();
    Receive("220 hi\r\n");
    EXPECT_EQ(std::vector<std::string>{"USER bob\r\n"}, link.commands);
}

TEST_F(FtpProtocolTest, EarlierLoginIsKeptOnlyForTheSameHost) {
    auto userSent = [&](const char* host) {
        link.commands.clear();
        ftp.BeginOpen(host);
        ftp.LookupDone(true);
        ftp.ControlConnected(0);
        Receive("220 hi\r\n331 pass\r\n");
        return link.commands.size() == 2 ? link.commands[0] + link.commands[1] : std::string("?");
    };
    ftp.SetCredentials("alice", "secret");
    EXPECT_EQ("USER alice\r\nPASS secret\r\n", userSent("files.example"));
    // An empty user on the same host (in any case) keeps the login.
    ftp.SetCredentials("", "");
    EXPECT_EQ("USER alice\r\nPASS secret\r\n", userSent("FILES.example"));
    // Another host gets the anonymous login, and so does a later return.
    ftp.SetCredentials("", "");
    EXPECT_EQ("USER anonymous\r\nPASS cvget@corvane.com\r\n", userSent("other.example"));
    ftp.SetCredentials("", "");
    EXPECT_EQ("USER anonymous\r\nPASS cvget@corvane.com\r\n", userSent("files.example"));
    // An Open without SetCredentials before it follows the same rule.
    ftp.SetCredentials("bob", "pw");
    EXPECT_EQ("USER bob\r\nPASS pw\r\n", userSent("files.example"));
    EXPECT_EQ("USER bob\r\nPASS pw\r\n", userSent("files.example"));
    EXPECT_EQ("USER anonymous\r\nPASS cvget@corvane.com\r\n", userSent("files.example.evil"));
}

TEST_F(FtpProtocolTest, RefusedLoginReportsOnceAndDropsTheConnection) {
    Connect();
    Receive("220 hi\r\n530 This FTP server is anonymous only.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp.state());
    EXPECT_FALSE(ftp.AwaitsPeer());
    ftp.TimedOut();
    ftp.ControlClosed();
    EXPECT_EQ(1u, link.reports.size());
    // Wrong password, refused TYPE I.
    link.reports.clear();
    Connect();
    Receive("220 hi\r\n331 pass\r\n530 Login incorrect.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
    link.reports.clear();
    Connect();
    Receive("220 hi\r\n331 pass\r\n230 in\r\n504 no\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
}

TEST_F(FtpProtocolTest, ConnectionFailuresReportTheirCodes) {
    ftp.BeginOpen("ftp.example");
    EXPECT_TRUE(ftp.AwaitsPeer());
    ftp.LookupDone(false);
    link.connectResult = kFtpNoSocket;
    ftp.BeginOpen("ftp.example");
    ftp.LookupDone(true);
    link.connectResult = kFtpConnectFailed;
    ftp.BeginOpen("ftp.example");
    ftp.LookupDone(true);
    link.connectResult = kFtpConnectStarted;
    ftp.BeginOpen("ftp.example");
    ftp.LookupDone(true);
    ftp.ControlConnected(10061);
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 1, 0}, {FtpReport::Dl1, 2, 0}, {FtpReport::Dl1, 3, 0},
                                {FtpReport::Dl1, 3, 0}}),
              link.reports);
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp.state());
}

TEST_F(FtpProtocolTest, TimeOutsAndClosedControlConnection) {
    ftp.BeginOpen("ftp.example");
    ftp.TimedOut();  // lookup
    Connect();
    ftp.TimedOut();  // greeting
    Connect();
    Receive("220 hi\r\n");
    ftp.ControlClosed();  // during the login
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 1, 0}, {FtpReport::Dl1, 3, 0}, {FtpReport::Dl1, 3, 0}}),
              link.reports);
    // Idle and logged in: nothing waits, nothing to report, but the
    // connection is gone and no Fetch is taken.
    Login();
    EXPECT_FALSE(ftp.AwaitsPeer());
    ftp.TimedOut();
    EXPECT_EQ(FtpState::CONNECTED, ftp.state());
    ftp.ControlClosed();
    EXPECT_TRUE(link.reports.empty());
    EXPECT_FALSE(ftp.CanFetch());
}

TEST_F(FtpProtocolTest, OverlongReplyLineFailsTheStepSafely) {
    Connect();
    Receive("220 hi\r\n");
    Receive("331 " + std::string(3000, 'x') + "\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
    EXPECT_EQ(1u, link.commands.size());
    // An over-long greeting also fails the login.
    link.reports.clear();
    Connect();
    Receive("220 " + std::string(1500, 'g'));
    EXPECT_TRUE(link.reports.empty());
    Receive(std::string(700, 'g') + "\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
}

TEST_F(FtpProtocolTest, ReplyLengthsAroundTheBufferSize) {
    // A reply that fits the 1024 bytes with its line feed is taken as it
    // is; one byte more fails the step. Both ways the next reply is framed.
    for (int length = 1020; length <= 1028; ++length) {
        SCOPED_TRACE(length);
        link.commands.clear();
        link.reports.clear();
        Connect();
        Receive("220 hi\r\n");
        Receive("331 " + std::string(length - 6, 'p') + "\r\n");
        if (length <= FtpProtocol::kReplySize) {
            ASSERT_EQ(2u, link.commands.size());
            EXPECT_EQ(FtpState::SEND_BIN, ftp.state());
        } else {
            EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
        }
        // A multi-line reply whose first line has this length.
        link.commands.clear();
        link.reports.clear();
        Connect();
        Receive("220-" + std::string(length - 6, 'g') + "\r\n220 end\r\n331 pw\r\n");
        if (length <= FtpProtocol::kReplySize) {
            EXPECT_EQ(2u, link.commands.size());
            EXPECT_TRUE(link.reports.empty());
        } else {
            EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
        }
    }
}

TEST_F(FtpProtocolTest, OverlongLineInsideMultiLineReplyIsDroppedToItsEnd) {
    Connect();
    std::string banner = "220-Welcome\r\n";
    for (int i = 0; i < 40; ++i) banner += "220-line " + std::string(40, 'a' + i % 26) + "\r\n";
    banner += "220-" + std::string(2000, 'z') + "\r\n";
    banner += "220 ready\r\n331 Please specify the password.\r\n";
    for (size_t at = 0; at < banner.size(); at += 333) Receive(banner.substr(at, 333));
    // The banner counted as one reply, the 331 as the next.
    EXPECT_EQ((std::vector<std::string>{"USER anonymous\r\n", "PASS cvget@corvane.com\r\n"}), link.commands);
    EXPECT_TRUE(link.reports.empty());
    // Over-long first line of a multi-line reply.
    link.commands.clear();
    Connect();
    Receive("220-" + std::string(1500, 'q') + "\r\n220-more\r\n220 end\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
    EXPECT_TRUE(link.commands.empty());
}

// Every reply is one line of the run log, the PASV reply that lets RETR go
// included.
TEST_F(FtpProtocolTest, EachReplyIsLoggedOnce) {
    struct Lines : LogSink {
        void Now(LogTime* t) override { *t = LogTime{2026, 1, 2, 3, 4, 5, 6}; }
        void Write(const char* line, int length) override { text.push_back(std::string(line, size_t(length))); }
        std::vector<std::string> text;
    } sink;
    SetLogSink(&sink);
    StartPassive();
    SetLogSink(nullptr);
    int passive = 0;
    for (const std::string& line : sink.text) passive += line.find("ftp < 227 ") != std::string::npos;
    EXPECT_EQ(1, passive);
    EXPECT_EQ((std::vector<std::string>{"PASV\r\n", "RETR dir/file.bin\r\n"}), link.commands);
}

TEST_F(FtpProtocolTest, PassiveTransferWithDataClosingAfterTheFinalReply) {
    StartPassive();
    ASSERT_EQ(1u, link.passive.size());
    EXPECT_EQ(4 * 256 + 1, link.passive[0]);
    EXPECT_EQ((std::vector<std::string>{"PASV\r\n", "RETR dir/file.bin\r\n"}), link.commands);
    EXPECT_EQ(FtpState::GET_SIZE, ftp.state());
    Receive("150 Opening BINARY mode data connection for dir/file.bin (10 bytes).\r\n");
    EXPECT_EQ(FtpState::XFER, ftp.state());
    link.blocks = {"hello", "world"};
    ftp.DataReadable();
    Receive("226 Transfer complete.\r\n");
    EXPECT_EQ(FtpState::CONNECTED, ftp.state());
    EXPECT_FALSE(ftp.CanFetch());  // the data connection has not ended yet
    EXPECT_TRUE(link.Of(FtpReport::Dl4).empty());
    link.dataEnded = true;
    ftp.DataClosed();
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, 10},
                                {FtpReport::Dl3, 0, 5},
                                {FtpReport::Dl3, 0, 10},
                                {FtpReport::Dl4, 0, 0}}),
              link.reports);
    EXPECT_EQ("helloworld", link.written);
    EXPECT_TRUE(ftp.CanFetch());
    ftp.DataClosed();
    EXPECT_EQ(1u, link.Of(FtpReport::Dl4).size());
}

TEST_F(FtpProtocolTest, DataArrivingBeforeThePreliminaryReplyWaitsForIt) {
    StartPassive();
    // The whole file and the close come before the 150 is read.
    link.blocks = {"abc"};
    link.dataEnded = true;
    ftp.DataReadable();
    ftp.DataClosed();
    EXPECT_TRUE(link.reports.empty());
    Receive("150 Here it comes.\r\n226 Done.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, -1}, {FtpReport::Dl3, 0, 3}, {FtpReport::Dl4, 0, 0}}),
              link.reports);
    EXPECT_EQ(FtpState::CONNECTED, ftp.state());
    EXPECT_TRUE(ftp.CanFetch());
}

TEST_F(FtpProtocolTest, RefusedPassiveModeFallsBackToPort) {
    Login();
    ASSERT_TRUE(ftp.BeginFetch("f"));
    Receive("502 PASV not allowed.\r\n");
    EXPECT_EQ(1, link.actives);
    Receive("200 PORT command successful.\r\n150 ok (3 bytes)\r\n");
    EXPECT_EQ((std::vector<std::string>{"PASV\r\n", "PORT 127,0,0,1,18,52\r\n", "RETR f\r\n"}), link.commands);
    // A PASV reply with too few numbers also goes active.
    link.commands.clear();
    link.reports.clear();
    Login();
    ASSERT_TRUE(ftp.BeginFetch("f"));
    Receive("227 Entering Passive Mode (127,0,5).\r\n");
    EXPECT_EQ(2, link.actives);
    EXPECT_EQ(0u, link.passive.size());
    // A refused PORT ends the Fetch with "dl2" 4.
    Receive("500 Illegal PORT command.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 4, 0}}), link.reports);
    EXPECT_TRUE(ftp.CanFetch());
}

TEST_F(FtpProtocolTest, RefusedRetrLeavesTheTransportUsable) {
    StartPassive("missing.bin");
    int closesBefore = link.dataCloses;
    Receive("550 Failed to open file.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 4, 0}}), link.reports);
    // The file and the data connection are closed at once.
    EXPECT_GT(link.dataCloses, closesBefore);
    EXPECT_EQ(FtpState::CONNECTED, ftp.state());
    EXPECT_FALSE(ftp.AwaitsPeer());
    ftp.DataClosed();
    EXPECT_EQ(1u, link.reports.size());
    link.reports.clear();
    ASSERT_TRUE(ftp.BeginFetch("there.bin"));
    Receive("227 (1,2,3,4,5,6)\r\n150 go\r\n226 ok\r\n");
    link.dataEnded = true;
    ftp.DataClosed();
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, -1}, {FtpReport::Dl4, 0, 0}}), link.reports);
}

TEST_F(FtpProtocolTest, FailedWriteSendsExactlyOneDl4With5) {
    StartPassive();
    Receive("150 go (8 bytes)\r\n");
    link.writeFails = true;
    link.blocks = {"data", "more"};
    ftp.DataReadable();
    ftp.DataReadable();
    ftp.DataClosed();
    Receive("426 Failure writing network stream.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, 8}, {FtpReport::Dl4, 5, 0}}), link.reports);
    EXPECT_EQ(FtpState::CONNECTED, ftp.state());
}

TEST_F(FtpProtocolTest, DataErrorsAndBadFinalRepliesEndWithOneDl4With4) {
    StartPassive();
    Receive("150 go\r\n");
    link.receiveError = true;
    ftp.DataReadable();
    Receive("426 broken\r\n");
    EXPECT_EQ(1u, link.Of(FtpReport::Dl4).size());
    EXPECT_EQ(4, link.Of(FtpReport::Dl4)[0].code);
    // A failed passive connect, before the 1xx reply.
    link.receiveError = false;
    link.reports.clear();
    ASSERT_TRUE(ftp.BeginFetch("x"));
    Receive("227 (1,2,3,4,5,6)\r\n");
    ftp.DataConnected(10061);
    Receive("425 Failed to establish connection.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl4, 4, 0}}), link.reports);
    EXPECT_TRUE(ftp.CanFetch());
    // A final reply that is not 2xx.
    link.reports.clear();
    ASSERT_TRUE(ftp.BeginFetch("x"));
    Receive("227 (1,2,3,4,5,6)\r\n150 go\r\n451 aborted\r\n");
    link.dataEnded = true;
    ftp.DataClosed();
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, -1}, {FtpReport::Dl4, 4, 0}}), link.reports);
}

TEST_F(FtpProtocolTest, ShortOrBrokenTransfersFail) {
    // Fewer bytes than the 1xx reply announced: failed, whichever end
    // comes last.
    StartPassive();
    Receive("150 Opening BINARY mode data connection for dir/file.bin (10 bytes).\r\n");
    link.blocks = {"hello"};
    link.dataEnded = true;
    ftp.DataClosed();
    Receive("226 Transfer complete.\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, 10}, {FtpReport::Dl3, 0, 5}, {FtpReport::Dl4, 4, 0}}),
              link.reports);
    EXPECT_TRUE(ftp.CanFetch());
    link.reports.clear();
    link.dataEnded = false;
    ASSERT_TRUE(ftp.BeginFetch("f"));
    Receive("227 (1,2,3,4,5,6)\r\n150 go (6 Bytes)\r\n226 ok\r\n");
    link.blocks = {"abc"};
    link.dataEnded = true;
    ftp.DataClosed();
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, 6}, {FtpReport::Dl3, 0, 3}, {FtpReport::Dl4, 4, 0}}),
              link.reports);
    // Digits of a name are no announced size: three bytes of "v42.bin" pass.
    link.reports.clear();
    link.dataEnded = false;
    ASSERT_TRUE(ftp.BeginFetch("v42.bin"));
    Receive("227 (1,2,3,4,5,6)\r\n150 Opening data connection for v42.bin\r\n226 ok\r\n");
    link.blocks = {"abc"};
    link.dataEnded = true;
    ftp.DataClosed();
    EXPECT_EQ((FtpReport::Dl4), link.reports.back().report);
    EXPECT_EQ(0, link.reports.back().code);
    // A data connection that closes with an error fails, even after a 226
    // and without an announced size.
    link.reports.clear();
    link.dataEnded = false;
    ASSERT_TRUE(ftp.BeginFetch("f"));
    Receive("227 (1,2,3,4,5,6)\r\n150 go\r\n226 ok\r\n");
    link.blocks = {"abc"};
    ftp.DataReadable();
    ftp.DataClosed(10054);
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, -1}, {FtpReport::Dl3, 0, 3}, {FtpReport::Dl4, 4, 0}}),
              link.reports);
    EXPECT_TRUE(ftp.CanFetch());
    // ... also when it closes before the 1xx reply was handled.
    link.reports.clear();
    ASSERT_TRUE(ftp.BeginFetch("f"));
    Receive("227 (1,2,3,4,5,6)\r\n");
    ftp.DataClosed(10053);
    Receive("150 go\r\n226 ok\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl4, 4, 0}}), link.reports);
    EXPECT_TRUE(ftp.CanFetch());
}

TEST_F(FtpProtocolTest, SecondFetchDuringATransferIsRefused) {
    StartPassive();
    EXPECT_FALSE(ftp.BeginFetch("other"));
    Receive("150 go\r\n");
    EXPECT_FALSE(ftp.BeginFetch("other"));
    EXPECT_STREQ("dir/file.bin", ftp.remotePath());
    EXPECT_EQ(FtpState::XFER, ftp.state());
    EXPECT_FALSE(FtpProtocol(link).BeginFetch("x"));
}

TEST_F(FtpProtocolTest, ControlLossOrTimeOutDuringTransferEndsIt) {
    StartPassive();
    Receive("150 go\r\n");
    ftp.ControlClosed();
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, -1}, {FtpReport::Dl4, 4, 0}}), link.reports);
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp.state());
    link.reports.clear();
    StartPassive();
    ftp.TimedOut();
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl4, 4, 0}}), link.reports);
    // Waiting for the data connection to end after the 226 is also timed.
    link.reports.clear();
    StartPassive();
    Receive("150 go\r\n226 ok\r\n");
    EXPECT_TRUE(ftp.AwaitsPeer());
    ftp.TimedOut();
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl2, 0, -1}, {FtpReport::Dl4, 4, 0}}), link.reports);
}

TEST_F(FtpProtocolTest, NextFetchFromTheEndReportStartsCleanly) {
    StartPassive("one");
    int fetched = 0;
    link.onReport = [&](const Rep& r) {
        if (r.report == FtpReport::Dl4 && r.code == 0 && fetched++ == 0) {
            EXPECT_TRUE(ftp.BeginFetch("two"));
        }
    };
    Receive("150 go\r\n");
    link.dataEnded = true;
    ftp.DataClosed();
    Receive("226 ok\r\n");
    EXPECT_EQ(FtpState::CHECK_DATA_PORT, ftp.state());
    EXPECT_EQ("PASV\r\n", link.commands.back());
    // A Close from inside a report stops the handling of buffered replies.
    link.onReport = [&](const Rep&) { ftp.Close(); };
    link.reports.clear();
    Receive("227 (1,2,3,4,5,6)\r\n150 go\r\n226 ok\r\n227 more\r\n");
    EXPECT_EQ(1u, link.reports.size());
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp.state());
    EXPECT_EQ(0, ftp.replyLength());
}

TEST_F(FtpProtocolTest, NoDataSocketReportsAndKeepsTheLogin) {
    Login();
    link.passiveOk = false;
    ASSERT_TRUE(ftp.BeginFetch("f"));
    Receive("227 (1,2,3,4,5,6)\r\n");
    EXPECT_EQ((std::vector<Rep>{{FtpReport::Dl1, 3, 0}}), link.reports);
    EXPECT_TRUE(ftp.CanFetch());
    link.sendFails = true;
    EXPECT_FALSE(ftp.BeginFetch("f"));
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp.state());
    EXPECT_EQ(1u, link.reports.size());
}

TEST_F(FtpProtocolTest, CloseClosesEverythingOnce) {
    EXPECT_EQ(0, ftp.Close());
    StartPassive();
    int data = link.dataCloses, control = link.controlCloses;
    EXPECT_EQ(1, ftp.Close());
    EXPECT_GT(link.dataCloses, data);
    EXPECT_EQ(control + 1, link.controlCloses);
    EXPECT_EQ(0, ftp.Close());
    EXPECT_TRUE(link.Of(FtpReport::Dl4).empty());
    EXPECT_FALSE(ftp.AwaitsPeer());
}

}  // namespace
