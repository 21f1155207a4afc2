// FTP client protocol logic: framing of replies on the control connection,
// the PASV and 1xx parsers, and the state machine of login and transfer.
#include "download/ftp_protocol.h"
#include "download/report_bytes.h"

#include "base/ascii_case.h"
#include "base/text_copy.h"
#include "base/run_log.h"
#include "http/http_url.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The default password of an anonymous login.
const char kDefaultPassword[] = "cvget@corvane.com";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }



}  // namespace

bool ParsePassiveAddress(const char* reply, FtpAddress* address) {
    const char* p = std::strchr(reply, '(');
    if (!p) return false;
    int numbers[6];
    for (int& number : numbers) {
        while (*p && !IsDigit(*p)) ++p;
        if (!*p) return false;
        int value = 0;
        for (; IsDigit(*p); ++p) {
            if (value <= 255) value = value * 10 + (*p - '0');
        }
        if (value > 255) return false;
        number = value;
    }
    for (int i = 0; i < 4; ++i) address->bytes[i] = static_cast<unsigned char>(numbers[i]);
    address->port = numbers[4] * 256 + numbers[5];
    return address->port != 0;
}

long long ParseTransferSize(const char* reply) {
    int i = static_cast<int>(std::strlen(reply)) - 1;
    if (i < 3) return -1;
    while (i > 3 && !IsDigit(reply[i])) --i;
    if (!IsDigit(reply[i])) return -1;
    int end = i;
    while (i > 3 && IsDigit(reply[i - 1])) --i;
    long long size = 0;
    for (int k = i; k <= end; ++k) {
        size = size * 10 + (reply[k] - '0');
        if (size > kMaxReportBytes) return -1;
    }
    return size;
}

long long ParseAnnouncedSize(const char* reply) {
    long long found = -1;
    for (const char* p = reply; *p; ++p) {
        if (!IsDigit(*p) || (p > reply && IsDigit(p[-1]))) continue;
        long long value = 0;
        const char* q = p;
        for (; IsDigit(*q); ++q) {
            if (value <= LLONG_MAX / 100) value = value * 10 + (*q - '0');
        }
        while (*q == ' ' || *q == '\t') ++q;
        if (StartsNoCase(q, "bytes") && value <= LLONG_MAX / 100) found = value;
    }
    return found;
}

bool ParseFtpSite(const char* site, FtpSite* out) {
    out->host[0] = out->folder[0] = 0;
    out->port = 21;
    IAD_URL parsed(site ? site : "", kUrlFtp);
    if (!parsed.host || !parsed.host[0] || !parsed.valid) return false;
    if (!CopyTruncated(out->host, sizeof out->host, parsed.host)) return false;
    out->port = parsed.port;
    const char* folder = parsed.path ? parsed.path + 1 : "";
    if (!CopyTruncated(out->folder, sizeof out->folder - 1, folder)) return false;
    size_t n = std::strlen(out->folder);
    if (n > 0 && out->folder[n - 1] != '/') std::strcat(out->folder, "/");
    return true;
}

int FormatPortCommand(const FtpAddress& address, char* out, int size) {
    int n = std::snprintf(out, size, "PORT %d,%d,%d,%d,%d,%d\r\n", address.bytes[0],
                          address.bytes[1], address.bytes[2], address.bytes[3],
                          (address.port >> 8) & 255, address.port & 255);
    return n < size ? n : size - 1;
}

FtpProtocol::FtpProtocol(FtpLink& link)
    : link(link),
      state_(FtpState::NOT_CONNECTED),
      replyLength_(0),
      skipping_(false),
      failedReply_(false),
      skipMulti_(false),
      lineColumn_(0),
      credentialsGiven_(false),
      announcedSize_(-1),
      bytesReceived_(0),
      pendingEnds_(0),
      openActive_(false),
      fetchActive_(false),
      transferStarted_(false),
      dataOpen_(false),
      deferredClose_(false),
      generation_(0),
      block_(nullptr) {
    replyBuffer_[0] = 0;
    replyText_[0] = 0;
    CopyTruncated(user_, kTextSize, "anonymous");
    CopyTruncated(password_, kTextSize, kDefaultPassword);
    loginHost_[0] = 0;
    remotePath_[0] = 0;
}

FtpProtocol::~FtpProtocol() { std::free(block_); }

void FtpProtocol::Enter(FtpState next) { state_ = next; }

void FtpProtocol::SetCredentials(const char* user, const char* password) {
    credentialsGiven_ = user && *user;
    if (!credentialsGiven_) return;
    CopyTruncated(user_, kTextSize, user);
    CopyTruncated(password_, kTextSize, password ? password : "");
}

int FtpProtocol::Close() {
    if (state_ == FtpState::NOT_CONNECTED) return 0;
    Drop();
    openActive_ = false;
    fetchActive_ = false;
    return 1;
}

// Closes every socket and the file; the pending reports stay for the caller.
void FtpProtocol::Drop() {
    if (state_ == FtpState::NOT_CONNECTED) return;
    CloseData();
    link.CloseControlConnection();
    ++generation_;
    replyLength_ = 0;
    skipping_ = false;
    Enter(FtpState::NOT_CONNECTED);
}

void FtpProtocol::BeginOpen(const char* host) {
    Close();
    if (!host) host = "";
    // A login kept from an earlier Open goes to no other host than its own.
    if (!credentialsGiven_ && !EqualNoCase(loginHost_, host)) {
        CopyTruncated(user_, kTextSize, "anonymous");
        CopyTruncated(password_, kTextSize, kDefaultPassword);
    }
    credentialsGiven_ = false;
    CopyTruncated(loginHost_, kPathSize, host);
    ++generation_;
    openActive_ = true;
    Enter(FtpState::RESOLVING_NAME);
}

void FtpProtocol::EndOpen(int code) {
    bool report = openActive_;
    openActive_ = false;
    if (report) link.Report(FtpReport::Dl1, code, 0);
}

void FtpProtocol::FailLogin(int code) {
    // The connection is of no further use; dropping it also keeps a later
    // time-out from reporting the same Open twice.
    Drop();
    EndOpen(code);
}

void FtpProtocol::LookupDone(bool found) {
    if (state_ != FtpState::RESOLVING_NAME) return;
    if (!found) {
        FailLogin(1);
        return;
    }
    replyLength_ = 0;
    skipping_ = false;
    Enter(FtpState::CONNECTING);
    int result = link.StartControlConnection();
    if (result == kFtpConnectStarted) return;
    FailLogin(result == kFtpNoSocket ? 2 : 3);
}

void FtpProtocol::ControlConnected(int error) {
    if (state_ != FtpState::CONNECTING) return;
    if (error) {
        FailLogin(3);
        return;
    }
    Enter(FtpState::SEND_USER);
}

void FtpProtocol::LoseControl() {
    if (state_ == FtpState::NOT_CONNECTED || state_ == FtpState::RESOLVING_NAME) return;
    bool inLogin = state_ < FtpState::CONNECTED;
    Drop();
    if (inLogin) {
        EndOpen(3);
    } else {
        EndFetch(FtpReport::Dl4, 4);
    }
}

void FtpProtocol::ControlClosed() { LoseControl(); }

void FtpProtocol::TimedOut() {
    if (!AwaitsPeer()) return;
    if (state_ == FtpState::RESOLVING_NAME) {
        FailLogin(1);
        return;
    }
    LoseControl();
}

bool FtpProtocol::AwaitsPeer() const {
    switch (state_) {
        case FtpState::NOT_CONNECTED:
            return false;
        case FtpState::CONNECTED:
            return fetchActive_;
        default:
            return true;
    }
}

bool FtpProtocol::Send(const char* verb, const char* argument) {
    char line[FtpProtocol::kPathSize + 16];
    int n = 0;
    for (const char* p = verb; *p && n < static_cast<int>(sizeof line) - 3; ++p) line[n++] = *p;
    if (argument) {
        line[n++] = ' ';
        // A line break inside a value would start a command of its own.
        for (const char* p = argument; *p && *p != '\r' && *p != '\n' && n < static_cast<int>(sizeof line) - 3; ++p)
            line[n++] = *p;
    }
    line[n++] = '\r';
    line[n++] = '\n';
    line[n] = 0;
    if (link.SendCommand(line, n)) return true;
    LoseControl();
    return false;
}

char* FtpProtocol::ReceiveArea(int* room) {
    *room = kReplySize - replyLength_;
    return replyBuffer_ + replyLength_;
}

// Scans [from, replyLength_) of an over-long reply for the end of its last
// line; `end` gets the position after that line feed.
bool FtpProtocol::Skip(int from, int* end) {
    for (int i = from; i < replyLength_; ++i) {
        char c = replyBuffer_[i];
        if (c != '\n') {
            if (lineColumn_ < 4) lineHead_[lineColumn_] = c;
            if (lineColumn_ < 4) ++lineColumn_;
            continue;
        }
        bool last;
        if (!skipMulti_) {
            last = true;
        } else {
            last = lineColumn_ >= 3 && std::memcmp(lineHead_, skipCode_, 3) == 0 &&
                   (lineColumn_ < 4 || lineHead_[3] != '-');
        }
        lineColumn_ = 0;
        if (last) {
            *end = i + 1;
            return true;
        }
    }
    return false;
}

void FtpProtocol::ControlReceived(int count) {
    if (count <= 0 || count > kReplySize - replyLength_) return;
    unsigned generation = generation_;
    int start = replyLength_;
    replyLength_ += count;
    if (skipping_) {
        int end;
        if (!Skip(start, &end)) {
            replyLength_ = start;
            return;
        }
        // The kept head [0, start) is the reply; what follows its last line
        // moves up behind it.
        std::memmove(replyBuffer_ + start, replyBuffer_ + end, replyLength_ - end);
        replyLength_ = start + (replyLength_ - end);
        skipping_ = false;
        bool failed = failedReply_;
        std::memcpy(replyText_, replyBuffer_, start);
        replyText_[start] = 0;
        std::memmove(replyBuffer_, replyBuffer_ + start, replyLength_ - start);
        replyLength_ -= start;
        HandleReply(replyText_, failed);
        if (generation != generation_) return;
    }
    Frame(generation);
}

void FtpProtocol::Deliver(int length) {
    std::memcpy(replyText_, replyBuffer_, length);
    replyText_[length] = 0;
    std::memmove(replyBuffer_, replyBuffer_ + length, replyLength_ - length);
    replyLength_ -= length;
    HandleReply(replyText_, false);
}

// A reply ends with its first line, unless that line is "ddd-": then it
// ends with the first later line that starts with the same code and no "-".
void FtpProtocol::Frame(unsigned generation) {
    int lineStart = 0;
    while (lineStart < replyLength_) {
        const char* begin = replyBuffer_ + lineStart;
        const char* lf =
            static_cast<const char*>(std::memchr(begin, '\n', replyLength_ - lineStart));
        if (!lf) break;
        int lineLength = static_cast<int>(lf - begin);  // without the line feed
        bool last;
        if (lineStart == 0) {
            last = !(lineLength > 3 && begin[3] == '-');
        } else {
            last = lineLength >= 3 && std::memcmp(begin, replyBuffer_, 3) == 0 &&
                   (lineLength == 3 || begin[3] != '-');
        }
        if (!last) {
            lineStart += lineLength + 1;
            continue;
        }
        Deliver(lineStart + lineLength + 1);
        if (generation != generation_) return;
        lineStart = 0;
    }
    if (replyLength_ == kReplySize) Overflow();
}

// The buffer is full and holds no complete reply: keep the reply's first
// line when it is complete (its code is all that decides), else remember
// the reply as failed, and drop the rest of it as it arrives.
void FtpProtocol::Overflow() {
    const char* lf = static_cast<const char*>(std::memchr(replyBuffer_, '\n', replyLength_));
    std::memcpy(skipCode_, replyBuffer_, 3);
    skipMulti_ = replyBuffer_[3] == '-';
    skipping_ = true;
    if (!lf) {
        // Still inside the first line: it never ends a multi-line reply,
        // and ends a single-line one with its line feed.
        failedReply_ = true;
        std::memcpy(lineHead_, replyBuffer_, 4);
        lineColumn_ = 4;
        replyLength_ = 0;
        return;
    }
    failedReply_ = false;
    int keep = static_cast<int>(lf - replyBuffer_) + 1;
    if (keep > kReplySize - 1) keep = kReplySize - 1;
    // Run over the continuation lines already here (none ends the reply,
    // or it would have been handed over) to learn where the last one stands.
    lineColumn_ = 0;
    int end;
    Skip(keep, &end);
    replyLength_ = keep;
}

void FtpProtocol::OnReply(const char* reply) { HandleReply(reply, false); }

void FtpProtocol::HandleReply(const char* text, bool failed) {
    LogEvent("ftp < %s%s", text, failed ? " (a reply too long to read; taken as a failure)" : "");
    char digit = failed ? 0 : text[0];
    switch (state_) {
        case FtpState::NOT_CONNECTED:
        case FtpState::RESOLVING_NAME:
            // No connection exists that the text could have come from.
            return;
        case FtpState::CONNECTING:
            FailLogin(3);
            return;
        case FtpState::SEND_USER:
            if (failed) {
                FailLogin(3);
                return;
            }
            Enter(FtpState::SEND_PASSWORD);
            Send("USER", user_);
            return;
        case FtpState::SEND_PASSWORD:
            if (digit == '3') {
                Enter(FtpState::SEND_BIN);
                Send("PASS", password_);
            } else if (digit == '2') {
                // Logged in without a password.
                Enter(FtpState::INIT_DONE);
                Send("TYPE I", nullptr);
            } else if (digit != '1') {
                FailLogin(3);
            }
            return;
        case FtpState::SEND_BIN:
            if (digit == '2') {
                Enter(FtpState::INIT_DONE);
                Send("TYPE I", nullptr);
            } else {
                FailLogin(3);
            }
            return;
        case FtpState::INIT_DONE:
            if (digit == '2') {
                Enter(FtpState::CONNECTED);
                EndOpen(0);
            } else {
                FailLogin(3);
            }
            return;
        case FtpState::CONNECTED:
            return;
        case FtpState::CHECK_DATA_PORT:
            OpenDataConnection(digit == '2' ? text : nullptr);
            return;
        case FtpState::SEND_GET:
            if (digit == '2') {
                Enter(FtpState::GET_SIZE);
                Send("RETR", remotePath_);
            } else {
                Enter(FtpState::CONNECTED);
                CloseData();
                EndFetch(FtpReport::Dl2, 4);
            }
            return;
        case FtpState::GET_SIZE:
            if (digit == '1') {
                StartTransfer(text);
            } else {
                Enter(FtpState::CONNECTED);
                CloseData();
                EndFetch(FtpReport::Dl2, 4);
            }
            return;
        case FtpState::XFER:
            Enter(FtpState::CONNECTED);
            if (digit == '2') {
                if (--pendingEnds_ == 0) Complete();
            } else {
                CloseData();
                EndFetch(FtpReport::Dl4, 4);
            }
            return;
    }
}

void FtpProtocol::EndFetch(FtpReport report, int code) {
    bool wasActive = fetchActive_;
    fetchActive_ = false;
    if (wasActive) link.Report(report, code, 0);
}

bool FtpProtocol::CanFetch() const { return state_ == FtpState::CONNECTED && !fetchActive_; }

bool FtpProtocol::BeginFetch(const char* remotePath) {
    if (!CanFetch()) return false;
    if (!block_) block_ = static_cast<char*>(std::malloc(kBlockSize));
    if (!block_) return false;
    CopyTruncated(remotePath_, kPathSize, remotePath);
    bytesReceived_ = 0;
    pendingEnds_ = 0;
    announcedSize_ = -1;
    transferStarted_ = false;
    deferredClose_ = false;
    dataOpen_ = false;
    Enter(FtpState::CHECK_DATA_PORT);
    static const char kPasv[] = "PASV\r\n";
    if (!link.SendCommand(kPasv, sizeof kPasv - 1)) {
        // The connection is gone; the caller learns it from the result.
        Drop();
        return false;
    }
    fetchActive_ = true;
    return true;
}

void FtpProtocol::OpenDataConnection(const char* text) {
    FtpAddress address;
    if (text && ParsePassiveAddress(text, &address)) {
        if (!link.OpenPassiveData(address.port)) {
            Enter(FtpState::CONNECTED);
            CloseData();
            fetchActive_ = false;
            link.Report(FtpReport::Dl1, 3, 0);
            return;
        }
        dataOpen_ = true;
        // The PASV reply also lets RETR go (as a 2xx to PORT would).
        Enter(FtpState::GET_SIZE);
        Send("RETR", remotePath_);
        return;
    }
    FtpAddress local;
    if (!link.OpenActiveData(&local)) {
        Enter(FtpState::CONNECTED);
        CloseData();
        fetchActive_ = false;
        link.Report(FtpReport::Dl1, 3, 0);
        return;
    }
    dataOpen_ = true;
    Enter(FtpState::SEND_GET);
    char line[40];
    int n = FormatPortCommand(local, line, sizeof line);
    if (!link.SendCommand(line, n)) LoseControl();
}

void FtpProtocol::StartTransfer(const char* text) {
    unsigned generation = generation_;
    pendingEnds_ = 2;
    transferStarted_ = true;
    announcedSize_ = ParseAnnouncedSize(text);
    Enter(FtpState::XFER);
    if (fetchActive_) link.Report(FtpReport::Dl2, 0, ParseTransferSize(text));
    if (generation != generation_ || !fetchActive_) return;
    // Data that came before the reply was left waiting; take it now.
    if (dataOpen_) ReadData(deferredClose_);
    if (generation != generation_) return;
    if (deferredClose_ && dataOpen_) FinishData();
}

bool FtpProtocol::InTransfer() const { return fetchActive_ && dataOpen_ && transferStarted_; }

void FtpProtocol::ReadData(bool toEnd) {
    unsigned generation = generation_;
    for (int blocks = 0; toEnd || blocks < kBlocksPerEvent; ++blocks) {
        int n = link.ReceiveData(block_, kBlockSize);
        if (n == 0 || n == kFtpWouldBlock) return;
        if (n < 0) {
            CloseData();
            EndFetch(FtpReport::Dl4, 4);
            return;
        }
        if (!link.WriteData(block_, n)) {
            CloseData();
            EndFetch(FtpReport::Dl4, 5);
            return;
        }
        bytesReceived_ += n;
        link.Report(FtpReport::Dl3, 0, bytesReceived_);
        if (generation != generation_ || !InTransfer()) return;
    }
}

// The data connection has ended: the file is complete once the final
// reply is in as well.
void FtpProtocol::FinishData() {
    CloseData();
    if (--pendingEnds_ == 0) Complete();
}

// Both ends of a transfer are in. A file shorter than the size its 1xx
// reply announced was cut off, whatever the final reply said.
void FtpProtocol::Complete() {
    bool shortFile = announcedSize_ >= 0 && bytesReceived_ < announcedSize_;
    EndFetch(FtpReport::Dl4, shortFile ? 4 : 0);
}

void FtpProtocol::CloseData() {
    link.CloseDataConnection();
    dataOpen_ = false;
}

void FtpProtocol::DataConnected(int error) {
    if (!dataOpen_ || !error) return;
    CloseData();
    EndFetch(FtpReport::Dl4, 4);
}

void FtpProtocol::DataReadable() {
    if (!InTransfer() || !block_) return;
    ReadData(false);
}

void FtpProtocol::DataClosed(int error) {
    if (!dataOpen_) return;
    // A connection reset or aborted may have lost data in flight.
    if (error) {
        DataFailed();
        return;
    }
    if (!fetchActive_) {
        CloseData();
        return;
    }
    if (!transferStarted_) {
        deferredClose_ = true;
        return;
    }
    unsigned generation = generation_;
    ReadData(true);
    if (generation != generation_ || !dataOpen_) return;
    FinishData();
}

void FtpProtocol::DataFailed() {
    if (!dataOpen_) return;
    CloseData();
    EndFetch(FtpReport::Dl4, 4);
}
