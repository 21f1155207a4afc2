// The FTP transport against vsftpd: anonymous and user logins, passive and
// active transfers of a large file, refused transfers, and the transport's
// own rules (one Fetch at a time, one end report per Fetch, clean-up).
#include "ftp_fixture.h"

namespace {

const LPARAM kBigSize = 64 << 20;

// The 64 MiB file of the transfer tests, made once (pseudo-random bytes,
// so that a misplaced block cannot go unnoticed).
std::string BigFile(const std::string& ftpDir) {
    std::string path = ftpDir + "\\big64.bin";
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info) && info.nFileSizeHigh == 0 &&
        info.nFileSizeLow == static_cast<DWORD>(kBigSize))
        return "big64.bin";
    std::string data(kBigSize, 0);
    unsigned state = 2463534242u;
    for (size_t i = 0; i < data.size(); i += 4) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        memcpy(&data[i], &state, 4);
    }
    EXPECT_TRUE(WriteWholeFile(path, data));
    return "big64.bin";
}

class FtpVsftpdTest : public FtpTest {
protected:
    std::string site = Env("CV_FTP_ADDR", "127.0.0.21");
    std::string activeSite = Env("CV_FTP_ACTIVE_ADDR", "127.0.0.22");
};

TEST_F(FtpVsftpdTest, AnonymousFetchReportsSizeProgressAndOneEnd) {
    std::string content = "transport test file\r\n" + std::string(100000, 'k');
    ASSERT_TRUE(WriteWholeFile(ServerFile("small.bin"), content));
    Make();
    ASSERT_EQ(0, OpenAndWait(site));
    EXPECT_EQ(FtpState::CONNECTED, ftp->state());
    ASSERT_EQ(0, FetchAndWait("small.bin", localFile));
    Drain();
    ASSERT_EQ(1, notify.Count(msgDl2));
    EXPECT_EQ(0u, notify.reports.front().code);
    EXPECT_EQ(msgDl2, notify.reports.front().message);
    EXPECT_EQ(static_cast<LPARAM>(content.size()), notify.reports.front().value);
    EXPECT_EQ(1, notify.Count(msgDl4));
    EXPECT_EQ(msgDl4, notify.reports.back().message);
    ASSERT_GE(notify.Count(msgDl3), 1);
    EXPECT_EQ(static_cast<LPARAM>(content.size()), notify.Last(msgDl3)->value);
    EXPECT_EQ(content, ReadWholeFile(localFile));
    // The same login serves the next file.
    ASSERT_EQ(0, FetchAndWait("hello.txt", localFile));
    EXPECT_EQ("hello from vsftpd\n", ReadWholeFile(localFile));
    EXPECT_EQ(1, ftp->Close());
    EXPECT_EQ(0, ftp->Close());
}

TEST_F(FtpVsftpdTest, EmptyFileInBothModes) {
    ASSERT_TRUE(WriteWholeFile(ServerFile("empty.bin"), ""));
    for (const std::string& host : {site, activeSite}) {
        SCOPED_TRACE(host);
        ASSERT_TRUE(WriteWholeFile(localFile, "old content"));
        Make();
        ASSERT_EQ(0, OpenAndWait(host));
        ASSERT_EQ(0, FetchAndWait("empty.bin", localFile));
        EXPECT_EQ(0, notify.Last(msgDl2)->value);
        EXPECT_EQ(0, notify.Count(msgDl3));
        EXPECT_EQ("", ReadWholeFile(localFile));
    }
}

TEST_F(FtpVsftpdTest, LargeFileIsIdenticalInPassiveAndActiveMode) {
    std::string name = BigFile(ftpDir);
    std::string original = ReadWholeFile(ServerFile(name));
    ASSERT_EQ(static_cast<size_t>(kBigSize), original.size());
    for (const std::string& host : {site, activeSite}) {
        SCOPED_TRACE(host);
        Make();
        ASSERT_EQ(0, OpenAndWait(host));
        ASSERT_EQ(0, FetchAndWait(name, localFile, 120000));
        Drain();
        EXPECT_EQ(kBigSize, notify.Last(msgDl2)->value);
        EXPECT_EQ(kBigSize, notify.Last(msgDl3)->value);
        EXPECT_EQ(1, notify.Count(msgDl4));
        // One report per block of at most FtpProtocol::kBlockSize.
        EXPECT_GE(notify.Count(msgDl3), kBigSize / FtpProtocol::kBlockSize);
        std::string fetched = ReadWholeFile(localFile);
        EXPECT_EQ(original.size(), fetched.size());
        EXPECT_TRUE(fetched == original);
    }
}

TEST_F(FtpVsftpdTest, UserLoginAndItsRefusal) {
    std::string user = Env("CV_FTP_USER", "cvftp");
    std::string password = Env("CV_FTP_PASSWORD", "cvftp-pass");
    Make();
    ASSERT_EQ(0, OpenAndWait(site, user.c_str(), password.c_str()));
    ASSERT_EQ(0, FetchAndWait("hello.txt", localFile));
    EXPECT_EQ("hello from vsftpd\n", ReadWholeFile(localFile));
    EXPECT_EQ(3, OpenAndWait(site, user.c_str(), "wrong password"));
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp->state());
    // An empty user falls back to the anonymous login.
    Make();
    EXPECT_EQ(0, OpenAndWait(site, "", ""));
}

TEST_F(FtpVsftpdTest, RefusedRetrLeavesTheTransportUsable) {
    Make();
    ASSERT_EQ(0, OpenAndWait(site));
    EXPECT_EQ(104, FetchAndWait("no/such/file.bin", localFile));
    EXPECT_EQ(0, notify.Last(msgDl2)->value);
    Drain();
    EXPECT_EQ(0, notify.Count(msgDl4));
    EXPECT_EQ(FtpState::CONNECTED, ftp->state());
    // The same local file is free to be written again.
    ASSERT_EQ(0, FetchAndWait("hello.txt", localFile));
    EXPECT_EQ("hello from vsftpd\n", ReadWholeFile(localFile));
    // The same holds in active mode, where a listening socket was open.
    Make();
    ASSERT_EQ(0, OpenAndWait(activeSite));
    EXPECT_EQ(104, FetchAndWait("missing.bin", localFile));
    ASSERT_EQ(0, FetchAndWait("hello.txt", localFile));
}

TEST_F(FtpVsftpdTest, SecondFetchDuringATransferReturnsZero) {
    std::string name = BigFile(ftpDir);
    Make();
    ASSERT_EQ(0, OpenAndWait(site));
    notify.reports.clear();
    ASSERT_EQ(1, ftp->Fetch(name.c_str(), localFile.c_str()));
    std::string other = localDir + "\\other.tmp";
    EXPECT_EQ(0, ftp->Fetch("hello.txt", other.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(other.c_str()));
    ASSERT_TRUE(PumpUntil([&] { return notify.Count(msgDl2) > 0; }));
    EXPECT_EQ(0, ftp->Fetch("hello.txt", other.c_str()));
    ASSERT_TRUE(PumpUntil([&] { return notify.Count(msgDl4) > 0; }, 120000));
    EXPECT_EQ(0u, notify.Last(msgDl4)->code);
    EXPECT_STREQ(name.c_str(), ftp->Protocol().remotePath());
}

TEST_F(FtpVsftpdTest, NextFetchFromTheEndReportOfThePrevious) {
    // The download dialog starts the next file from its "dl4" handler.
    ASSERT_TRUE(WriteWholeFile(ServerFile("first.bin"), std::string(5000, '1')));
    ASSERT_TRUE(WriteWholeFile(ServerFile("second.bin"), std::string(7000, '2')));
    Make();
    ASSERT_EQ(0, OpenAndWait(site));
    std::string second = localDir + "\\second.bin";
    int started = -1;
    notify.onReport = [&](const Reported& r) {
        if (r.message == msgDl4 && started < 0) started = ftp->Fetch("second.bin", second.c_str());
    };
    notify.reports.clear();
    ASSERT_EQ(1, ftp->Fetch("first.bin", localFile.c_str()));
    ASSERT_TRUE(PumpUntil([&] { return notify.Count(msgDl4) == 2; }));
    notify.onReport = nullptr;
    EXPECT_EQ(1, started);
    EXPECT_EQ(0u, notify.Last(msgDl4)->code);
    EXPECT_EQ(std::string(5000, '1'), ReadWholeFile(localFile));
    EXPECT_EQ(std::string(7000, '2'), ReadWholeFile(second));
    DeleteFileA(second.c_str());
}

TEST_F(FtpVsftpdTest, FetchMakesMissingDirectoriesAndRefusesUnwritableFiles) {
    Make();
    ASSERT_EQ(0, OpenAndWait(site));
    std::string nested = localDir + "\\a\\b\\c\\tmp.tmp";
    ASSERT_EQ(0, FetchAndWait("hello.txt", nested));
    EXPECT_EQ("hello from vsftpd\n", ReadWholeFile(nested));
    DeleteFileA(nested.c_str());
    for (const char* dir : {"\\a\\b\\c", "\\a\\b", "\\a"}) RemoveDirectoryA((localDir + dir).c_str());
    // A file cannot be created below another file.
    std::string blocked = localFile + "\\below.tmp";
    ASSERT_TRUE(WriteWholeFile(localFile, "x"));
    EXPECT_EQ(0, ftp->Fetch("hello.txt", blocked.c_str()));
    EXPECT_EQ(FtpState::CONNECTED, ftp->state());
    EXPECT_EQ(0, FetchAndWait("hello.txt", localFile));
}

TEST_F(FtpVsftpdTest, CloseOrDestructionDuringATransferReleasesEverything) {
    std::string name = BigFile(ftpDir);
    for (int destroy = 0; destroy < 2; ++destroy) {
        SCOPED_TRACE(destroy ? "destroyed" : "closed");
        Make();
        ASSERT_EQ(0, OpenAndWait(site));
        notify.reports.clear();
        ASSERT_EQ(1, ftp->Fetch(name.c_str(), localFile.c_str()));
        ASSERT_TRUE(PumpUntil([&] { return notify.Count(msgDl3) > 0; }, 60000));
        SOCKET control = ftp->controlSocket, data = ftp->dataSocket;
        HWND window = ftp->hwnd;
        ASSERT_NE(INVALID_SOCKET, data);
        if (destroy) {
            ftp.reset();
            EXPECT_FALSE(IsWindow(window));
        } else {
            EXPECT_EQ(1, ftp->Close());
            EXPECT_EQ(FtpState::NOT_CONNECTED, ftp->state());
            EXPECT_TRUE(IsWindow(window));
        }
        // The sockets are gone and the file is no longer held.
        int type, length = sizeof type;
        EXPECT_EQ(SOCKET_ERROR, getsockopt(control, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length));
        EXPECT_EQ(SOCKET_ERROR, getsockopt(data, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length));
        EXPECT_TRUE(DeleteFileA(localFile.c_str())) << GetLastError();
        size_t count = notify.reports.size();
        Drain();
        EXPECT_EQ(0, notify.Count(msgDl4));
        EXPECT_EQ(count, notify.reports.size());
        if (!destroy) {
            // The transport opens again afterwards.
            EXPECT_EQ(0, OpenAndWait(site));
            EXPECT_EQ(0, FetchAndWait("hello.txt", localFile));
        }
    }
}

TEST_F(FtpVsftpdTest, ConnectionFailures) {
    Make(2000);
    // Nothing listens on port 21 of this loopback address.
    EXPECT_EQ(3, OpenAndWait("127.0.5.254"));
    EXPECT_EQ(FtpState::NOT_CONNECTED, ftp->state());
    EXPECT_EQ(1, OpenAndWait("no-such-host.invalid"));
    EXPECT_EQ(0, ftp->Fetch("hello.txt", localFile.c_str()));
}

}  // namespace
