// The FTP client's protocol logic without any sockets: reply framing, the
// passive address and transfer size parsers, and the login and transfer
// state machine. It is driven by events (replies, socket outcomes, time-outs)
// and acts through an FtpLink, which the Windows transport implements with
// real sockets and files and the tests implement with recorders.
#pragma once

// The states of a connection; `state` changes only in FtpProtocol::Enter.
enum class FtpState {
    NOT_CONNECTED = 0,
    RESOLVING_NAME = 1,
    CONNECTING = 2,
    SEND_USER = 3,
    SEND_PASSWORD = 4,
    SEND_BIN = 5,
    INIT_DONE = 6,
    CONNECTED = 7,
    CHECK_DATA_PORT = 8,
    SEND_GET = 9,
    GET_SIZE = 10,
    XFER = 11,
};

// The reports a transport makes to its notify window ("dl1" to "dl4").
enum class FtpReport { Dl1, Dl2, Dl3, Dl4 };

struct FtpAddress {
    unsigned char bytes[4];
    int port;
};

// Outcomes of FtpLink::ReceiveData besides a byte count.
const int kFtpWouldBlock = -1;
const int kFtpReceiveError = -2;

// Outcomes of FtpLink::StartControlConnection; 2 and 3 are the "dl1" codes.
const int kFtpConnectStarted = 0;
const int kFtpNoSocket = 2;
const int kFtpConnectFailed = 3;

// What the protocol needs from the world around it.
class FtpLink {
public:
    // Sends one command line on the control connection; false when it
    // could not be sent whole (the connection is then taken as lost).
    virtual bool SendCommand(const char* text, int length) = 0;
    // Tells the notify window. The receiver may call back into the
    // transport (Fetch from its "dl4" handler, Close, Open).
    virtual void Report(FtpReport report, int code, long long value) = 0;
    // Makes the control socket and starts connecting to the resolved host.
    virtual int StartControlConnection() = 0;
    // Closes the control socket (and a pending lookup); drops queued events.
    virtual void CloseControlConnection() = 0;
    // Passive mode: makes the data socket and starts connecting to `port`
    // of the control connection's peer; the address of a PASV reply is
    // never used, so that no reply can send the client to another machine.
    // False when no socket could be made.
    virtual bool OpenPassiveData(int port) = 0;
    // Active mode: makes a listening socket; `local` gets the address and
    // port to announce with PORT. False when that could not be arranged.
    virtual bool OpenActiveData(FtpAddress* local) = 0;
    // One receive from the data connection: a count, 0 at its end,
    // kFtpWouldBlock or kFtpReceiveError.
    virtual int ReceiveData(char* buffer, int size) = 0;
    // Writes a whole block to the local file; false when it was not.
    virtual bool WriteData(const char* data, int length) = 0;
    // Closes the local file, the data and the listening socket, and drops
    // their queued events.
    virtual void CloseDataConnection() = 0;

protected:
    ~FtpLink() {}
};

// Reads six numbers after the first "(" of a PASV reply. False when there
// is no "(", fewer than six numbers follow, or a number is out of range.
bool ParsePassiveAddress(const char* reply, FtpAddress* address);
// The size announced in a 1xx reply to RETR: the last run of digits after
// the reply code, or -1 when there is none or it is larger than a report
// carries (kMaxReportBytes).
long long ParseTransferSize(const char* reply);
// The size a 1xx reply announces in so many words: the last run of digits
// followed by "bytes" (blanks between, any case), as in "(1234 bytes)";
// -1 when there is none. Digits of a file name never count here.
long long ParseAnnouncedSize(const char* reply);
// An FTP site text ("[ftp://]host[:port][/folder]") as the URL parser reads
// it: the host, the port (21 when it names none), and the folder that goes
// before every remote path ("" without one, else "folder/" without a
// leading "/"). User information in the text is not used: the login comes
// from the component's user and password. False when the text names no
// host, its port is refused, or a part does not fit.
struct FtpSite {
    char host[260];
    int port;
    char folder[260];
};
bool ParseFtpSite(const char* site, FtpSite* out);
// Formats "PORT a,b,c,d,hi,lo\r\n" into out (at least 32 bytes); its length.
int FormatPortCommand(const FtpAddress& address, char* out, int size);

class FtpProtocol {
public:
    static const int kReplySize = 1024;      // control text kept at most
    // One receive from the data connection. Under Wine each receive and
    // each socket event is a round trip to the server process, so fewer,
    // larger receives carry a file fastest; 256 KiB measured best.
    static const int kBlockSize = 256 * 1024;
    // One receive per read event: the socket posts another event while data
    // remains, and a second receive at once mostly finds nothing yet, which
    // costs more than the event under Wine.
    static const int kBlocksPerEvent = 1;
    static const int kTextSize = 100;        // user and password
    static const int kPathSize = 260;        // remote path

    explicit FtpProtocol(FtpLink& link);
    ~FtpProtocol();
    FtpProtocol(const FtpProtocol&) = delete;
    FtpProtocol& operator=(const FtpProtocol&) = delete;

    // A given user is used with its password as it stands, even when that
    // is empty. An empty user keeps the current login for the next Open
    // only when that Open is to the same host as the login's; another
    // host gets the anonymous login.
    void SetCredentials(const char* user, const char* password);

    // Open of `host`: closes what is open and waits for the host lookup.
    void BeginOpen(const char* host);
    void LookupDone(bool found);
    void ControlConnected(int error);
    // The free end of the reply buffer; never empty.
    char* ReceiveArea(int* room);
    // `count` bytes arrived in the receive area: frame and handle replies.
    void ControlReceived(int count);
    // The server closed the control connection, or it broke.
    void ControlClosed();

    bool CanFetch() const;
    // Starts a transfer (the local file is already open): sends PASV.
    // False when nothing was started.
    bool BeginFetch(const char* remotePath);
    // One complete reply, NUL-terminated, starting with its code.
    void OnReply(const char* reply);

    void DataConnected(int error);
    void DataReadable();
    // The data connection closed; with an error the transfer has failed.
    void DataClosed(int error = 0);
    void DataFailed();

    // Nothing happened for the configured time while waiting for the peer.
    void TimedOut();
    // True while the protocol waits for the peer (a time-out applies).
    bool AwaitsPeer() const;

    // Close: closes everything; 0 when nothing was open.
    int Close();

    FtpState state() const { return state_; }
    long long bytesReceived() const { return bytesReceived_; }
    int pendingEnds() const { return pendingEnds_; }
    bool fetchActive() const { return fetchActive_; }
    const char* user() const { return user_; }
    const char* password() const { return password_; }
    const char* remotePath() const { return remotePath_; }
    int replyLength() const { return replyLength_; }

private:
    void Enter(FtpState next);
    void HandleReply(const char* text, bool failed);
    void Frame(unsigned generation);
    void Deliver(int length);
    void Drop();
    void Overflow();
    bool Skip(int from, int* end);
    bool Send(const char* verb, const char* argument);
    void LoseControl();
    void FailLogin(int code);
    void EndOpen(int code);
    void EndFetch(FtpReport report, int code);
    void OpenDataConnection(const char* text);
    void StartTransfer(const char* text);
    void ReadData(bool toEnd);
    void FinishData();
    void Complete();
    void CloseData();
    bool InTransfer() const;

    FtpLink& link;
    FtpState state_;
    char replyBuffer_[kReplySize + 1];
    int replyLength_;
    char replyText_[kReplySize + 1];
    // An over-long reply: its first `keep` bytes stay, the rest is dropped
    // up to the reply's last line; `failedReply` when not even its first
    // line fitted.
    bool skipping_;
    bool failedReply_;
    bool skipMulti_;
    char skipCode_[3];
    char lineHead_[4];
    int lineColumn_;
    char user_[kTextSize];
    char password_[kTextSize];
    char loginHost_[kPathSize];  // the host user_ and password_ were used for
    bool credentialsGiven_;      // SetCredentials named a user for the next Open
    long long announcedSize_;    // "(N bytes)" of the 1xx reply, -1 when none
    char remotePath_[kPathSize];
    long long bytesReceived_;
    int pendingEnds_;
    bool openActive_;      // an Open waits for its one "dl1"
    bool fetchActive_;     // a Fetch waits for its one end report
    bool transferStarted_; // the 1xx reply of this Fetch has been handled
    bool dataOpen_;        // a data connection or listening socket exists
    bool deferredClose_;   // the data connection closed before the 1xx reply
    unsigned generation_;  // changes whenever the connection is dropped
    char* block_;
};
