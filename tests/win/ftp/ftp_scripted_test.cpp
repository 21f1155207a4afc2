// The FTP transport against the scripted server, for what a real server
// will not do on request: replies in pieces or together, the data
// connection ending before or after the final reply, odd 1xx and PASV
// replies, dropped connections and silence. The server logs each command
// it receives, so the tests also check what the transport sent.
#include "ftp_fixture.h"

#include <sstream>

namespace {

class FtpScriptedTest : public FtpTest {
protected:
    std::string site = Env("CV_FTP_SCRIPTED_ADDR", "127.0.0.23");

    void SetUp() override {
        FtpTest::SetUp();
        content = "scripted content\n" + std::string(200000, 's') + "end";
        ASSERT_TRUE(WriteWholeFile(ServerFile("scripted.bin"), content));
    }

    // The commands the server received in the session of `user`.
    std::vector<std::string> Commands(const std::string& user) {
        std::vector<std::string> lines;
        std::istringstream in(ReadWholeFile(srvDir + "\\scripted_ftp\\" + user + ".log"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Logs in as `user` (whose first part names the server's scenario) and
    // fetches scripted.bin; the code of the end report.
    int Run(const std::string& user, unsigned timeoutMs = FtpDownloader::kDefaultTimeout) {
        Make(timeoutMs);
        int opened = OpenAndWait(site, user.c_str(), "secret");
        if (opened != 0) return 1000 + opened;
        return FetchAndWait("scripted.bin", localFile);
    }

    std::string content;
};

TEST_F(FtpScriptedTest, GreetingInPiecesAndSeveralLinesGetsOneUser) {
    ASSERT_EQ(0, Run("plain.greeting"));
    EXPECT_EQ((std::vector<std::string>{"USER plain.greeting", "PASS secret", "TYPE I", "PASV", "RETR scripted.bin"}),
              Commands("plain.greeting"));
    EXPECT_EQ(content, ReadWholeFile(localFile));
    EXPECT_EQ(static_cast<LPARAM>(content.size()), notify.Last(msgDl2)->value);
}

TEST_F(FtpScriptedTest, RepliesArrivingInSmallPieces) {
    ASSERT_EQ(0, Run("split.pieces"));
    EXPECT_EQ(5u, Commands("split.pieces").size());
    EXPECT_EQ(content, ReadWholeFile(localFile));
}

TEST_F(FtpScriptedTest, DataConnectionEndingBeforeOrAfterTheFinalReply) {
    // "together": the data connection has ended before the 150 and the 226
    // arrive, both in one piece.
    for (const char* user : {"early.order", "late.order", "together.order"}) {
        SCOPED_TRACE(user);
        ASSERT_EQ(0, Run(user));
        Drain();
        EXPECT_EQ(1, notify.Count(msgDl2));
        EXPECT_EQ(1, notify.Count(msgDl4));
        EXPECT_EQ(msgDl2, notify.reports.front().message);
        EXPECT_EQ(static_cast<LPARAM>(content.size()), notify.Last(msgDl3)->value);
        EXPECT_EQ(content, ReadWholeFile(localFile));
        // The next Fetch on the same login goes as well.
        ASSERT_EQ(0, FetchAndWait("scripted.bin", localFile));
        Drain();
        EXPECT_EQ(1, notify.Count(msgDl4));
    }
}

TEST_F(FtpScriptedTest, SizeFromThePreliminaryReply) {
    ASSERT_TRUE(WriteWholeFile(ServerFile("digits42.bin"), "forty-two"));
    Make();
    ASSERT_EQ(0, OpenAndWait(site, "namedigits.size", "x"));
    ASSERT_EQ(0, FetchAndWait("digits42.bin", localFile));
    EXPECT_EQ(42, notify.Last(msgDl2)->value);
    Make();
    ASSERT_EQ(0, OpenAndWait(site, "nosize.size", "x"));
    ASSERT_EQ(0, FetchAndWait("scripted.bin", localFile));
    EXPECT_EQ(-1, notify.Last(msgDl2)->value);
    EXPECT_EQ(content, ReadWholeFile(localFile));
}

TEST_F(FtpScriptedTest, RefusedOrUnusablePassiveModeFallsBackToPort) {
    for (const char* user : {"nopasv.active", "shortpasv.active"}) {
        SCOPED_TRACE(user);
        ASSERT_EQ(0, Run(user));
        std::vector<std::string> commands = Commands(user);
        ASSERT_EQ(6u, commands.size());
        EXPECT_EQ("PASV", commands[3]);
        EXPECT_EQ(0u, commands[4].find("PORT 127,"));
        EXPECT_EQ("RETR scripted.bin", commands[5]);
        EXPECT_EQ(content, ReadWholeFile(localFile));
    }
    // A refused PORT refuses the transfer.
    EXPECT_EQ(104, Run("badport.active"));
    EXPECT_EQ(FtpState::CONNECTED, ftp->state());
}

TEST_F(FtpScriptedTest, LoginWithoutPasswordGoesOnWithTypeI) {
    ASSERT_EQ(0, Run("user230.login"));
    std::vector<std::string> commands = Commands("user230.login");
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ("TYPE I", commands[1]);
}

TEST_F(FtpScriptedTest, OverlongLinesAndLongReplies) {
    EXPECT_EQ(1003, Run("longline.login"));
    EXPECT_EQ(1u, Commands("longline.login").size());
    // A reply of many lines, longer than the reply buffer, still counts once.
    ASSERT_EQ(0, Run("bigbanner.login"));
    EXPECT_EQ("PASS secret", Commands("bigbanner.login")[1]);
}

TEST_F(FtpScriptedTest, ServerClosingTheControlConnectionIsReported) {
    EXPECT_EQ(1003, Run("dropuser.close"));
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp->state());
    EXPECT_EQ(4, Run("dropxfer.close"));
    Drain();
    EXPECT_EQ(1, notify.Count(msgDl4));
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp->state());
}

TEST_F(FtpScriptedTest, SilentServerTimesOut) {
    EXPECT_EQ(1003, Run("silent.timeout", 300));
    // A transfer that stalls after its 150 ends with "dl4" 4.
    EXPECT_EQ(4, Run("stall.timeout", 300));
    EXPECT_EQ(1, notify.Count(msgDl2));
    Drain();
    EXPECT_EQ(1, notify.Count(msgDl4));
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp->state());
}

TEST_F(FtpScriptedTest, PassiveDataGoesOnlyToTheControlConnectionsPeer) {
    // The PASV reply names another loopback address, where a decoy listens
    // on the same port: the data must still come from the server itself.
    ASSERT_EQ(0, Run("otherpasv.peer"));
    EXPECT_EQ(content, ReadWholeFile(localFile));
    std::vector<std::string> commands = Commands("otherpasv.peer");
    EXPECT_EQ((std::vector<std::string>{"USER otherpasv.peer", "PASS secret", "TYPE I", "PASV", "RETR scripted.bin"}),
              commands);
}

TEST_F(FtpScriptedTest, TransferShorterThanAnnouncedIsAFailure) {
    // Half of the announced size, then "226": a failed fetch. (A reset data
    // connection reaches the program under Wine as a plain close, so the
    // rule for a close with an error is shown by the protocol's own tests.)
    EXPECT_EQ(4, Run("short.xfer"));
    Drain();
    EXPECT_EQ(1, notify.Count(msgDl4));
    EXPECT_EQ(static_cast<LPARAM>(content.size()), notify.Last(msgDl2)->value);
    EXPECT_EQ(content.substr(0, content.size() / 2), ReadWholeFile(localFile));
    EXPECT_EQ(FtpState::CONNECTED, ftp->state());
    // The same transport fetches the whole file from a server that sends it.
    ASSERT_EQ(0, OpenAndWait(site, "plain.after", "secret"));
    ASSERT_EQ(0, FetchAndWait("scripted.bin", localFile));
    EXPECT_EQ(content, ReadWholeFile(localFile));
}

TEST_F(FtpScriptedTest, EarlierLoginGoesOnlyToItsOwnHost) {
    std::string vsftpd = Env("CV_FTP_ADDR");
    ASSERT_FALSE(vsftpd.empty());
    std::string user = Env("CV_FTP_USER", "cvftp");
    std::string password = Env("CV_FTP_PASSWORD", "cvftp-pass");
    std::string logs = srvDir + "\\scripted_ftp\\";
    DeleteFileA((logs + user + ".log").c_str());
    DeleteFileA((logs + "anonymous.log").c_str());
    Make();
    // A named login on vsftpd, kept for the next Open of the same host.
    ASSERT_EQ(0, OpenAndWait(vsftpd, user.c_str(), password.c_str()));
    ASSERT_EQ(0, OpenAndWait(vsftpd, "", ""));
    EXPECT_EQ(user, ftp->Protocol().user());
    // Another host with an empty user: anonymous, and the server never
    // hears the earlier user or password.
    ASSERT_EQ(0, OpenAndWait(site, "", ""));
    ASSERT_EQ(0, FetchAndWait("scripted.bin", localFile));
    EXPECT_EQ("USER anonymous", Commands("anonymous").at(0));
    EXPECT_EQ(0u, Commands(user).size());
    // A named login on the scripted server does not follow to vsftpd,
    // which would refuse it.
    ASSERT_EQ(0, OpenAndWait(site, "plain.named", "secret"));
    ASSERT_EQ(0, OpenAndWait(vsftpd, "", ""));
    EXPECT_STREQ("anonymous", ftp->Protocol().user());
    ASSERT_EQ(0, FetchAndWait("hello.txt", localFile));
    EXPECT_EQ("hello from vsftpd\n", ReadWholeFile(localFile));
}

}  // namespace
