// HTTP/1.0 client: fetches one file with GET, directly or through a proxy,
// with Basic authentication and redirects, into a local file; https through
// the platform's secure channel, through a proxy by a CONNECT tunnel. A proxy
// that asks for a Windows login (Negotiate, NTLM) gets it, for plain requests
// and for the CONNECT alike, when the platform's login is set; a proxy gets
// Basic only once it has asked for it and for nothing else.
// Portable code over the small socket layer of net.h.
#pragma once
#include <cstdint>

struct HttpTimeouts {
    int connectSeconds = 15;  // per connection attempt
    int ioSeconds = 40;       // per send or receive wait
    int retrySleepMs = 1000;  // after a receive that would block
    // When above 0, these take the place of the seconds above, so that
    // tests of time-outs run in a fraction of a second.
    int connectMs = 0;
    int ioMs = 0;
};

class IAD_URL;
class SecureChannel;
class TlsLink;
class ProxyLogin;
class BasicProxyMemory;
struct NetAddress;
enum TlsFailure : int;

// Asked between received blocks and during every wait of a transfer; when
// it answers true the transfer is given up at once (GetFile fails). The
// fetch worker uses it so that a stopped download lets go of its files
// within moments rather than at the end of a part.
typedef bool (*HttpCancelCheck)(void* context);

class IAD_HTTPClient {
public:
    explicit IAD_HTTPClient(int level, const HttpTimeouts& timeouts = HttpTimeouts());
    ~IAD_HTTPClient();
    IAD_HTTPClient(const IAD_HTTPClient&) = delete;
    IAD_HTTPClient& operator=(const IAD_HTTPClient&) = delete;

    // 0, or -1 when the target (or the given proxy) has no host.
    // An empty or null proxy text means a direct connection.
    int set_urls(const char* url, const char* proxy);
    // 0 when the body was received to the end and written; -1 otherwise.
    int GetFile(const char* path, const char* localPath);
    // Installs (or, with null, removes) the question that cancels transfers.
    void set_cancel(HttpCancelCheck check, void* context);

    // The Windows logins (Negotiate, NTLM) the client may answer a proxy's
    // 407 with; none by default, so that only Basic is spoken. Borrowed.
    void set_proxy_login(ProxyLogin* login) { proxy_login = login; }
    // Whether a proxy without a proxy user may get the logged-on user's own
    // Windows login (the caller decides by where the proxy came from); yes
    // by default. Refused, the login fails without a token sent.
    void set_own_login_allowed(bool allowed) { own_login_allowed = allowed; }
    // The last GetFile met a proxy that asked for a Windows login and had
    // no user, and the logged-on user's own was not offered to it.
    bool own_login_withheld() const { return own_login_refusal; }
    // The record of proxies known to want Basic, shared by the clients of a
    // run; borrowed. Without one the client keeps its own.
    void set_basic_memory(BasicProxyMemory* memory);
    // The login schemes (bit set of ProxyScheme) the proxy asked for in its
    // last 407 answer to this client; 0 when none came.
    int proxy_schemes_asked() const { return proxy_offer; }
    // The Windows login scheme that got through the proxy, remembered for
    // the same proxy; 0 when none.
    int proxy_login_scheme() const { return login_scheme; }
    // The same, with the body received straight into `buffer`: 0 when it
    // ended within `capacity` bytes (*length gets its size), -1 when it
    // failed or was longer. The worker checks a part there before a byte
    // of it reaches the disk.
    int GetBuffer(const char* path, char* buffer, int capacity, int* length);

    // The steps of GetFile, public for the tests of the client itself.
    static const int kRequestSize = 1024;
    static const int kHeaderBlock = 2048;    // the header must end within it
    static const int kBodyBlock = 64 * 1024;  // later blocks of the body
    int resolve_host_name(NetAddress* address);
    intptr_t connect_host(const NetAddress& address);  // socket, or -1
    // Writes the request text (NUL-terminated) and returns its length, or
    // -1 when it would not fit kRequestSize bytes.
    int build_request(char* request, const char* path);
    // Through the secure channel while one is open on the connection.
    int full_send(intptr_t socket, const char* bytes, int length);
    int full_recv(intptr_t socket, char* buffer, int size);
    int recv_file(intptr_t socket, const char* localPath);
    // The raw socket under any channel: every byte sent (count, -1, -2 on a
    // time-out), and one receive after a bounded wait (count, 0 closed, -1,
    // -2), cut to the receive limit when one is set.
    int raw_send(intptr_t socket, const char* bytes, int length);
    int raw_recv_some(intptr_t socket, char* buffer, int size);
    // Asks the proxy for a tunnel to the target's host and port; 0 when it
    // answered 200. Bytes that came after its answer are kept for the
    // channel. A 407's offer is kept as for any answer; a proxy known to
    // want a Windows login gets the handshake's legs on this socket.
    int open_tunnel(intptr_t socket);
    // Opens the secure channel on a connected socket (through the tunnel
    // when there is a proxy). 0, or -1 with tls_failure() telling why.
    int start_secure(intptr_t socket);
    // Ends the secure channel (close-notify) if one is open, then the socket.
    void close_connection(intptr_t socket);
    // recv_file for an answer whose first `count` bytes were read already.
    int recv_answer(intptr_t socket, const char* localPath, const char* read, int count);
    // A Windows login's token when its package states no size of its own
    // (bytes); the 407 answers of a handshake must fit kLoginHeadSize.
    static const int kDefaultLoginToken = 12 * 1024;
    static const int kLoginHeadSize = 16 * 1024;

    // Why the last GetFile failed: its failures in order ("operation: text;
    // ..."), "" when it had none. A GetFile that succeeded may leave notes
    // of what it overcame.
    const char* last_failure() const { return failure; }

    const IAD_URL* current_url() const { return url; }
    const IAD_URL* current_proxy() const { return proxy; }

    // Why the last https connection failed; TlsNone when it did not, and
    // the host it was for.
    TlsFailure tls_failure() const { return tlsFailure; }
    const char* tls_failure_host() const { return tlsFailureHost; }

    // Where secure channels come from (the platform's by default); tests
    // put in their own. Each receive of the raw socket is cut to
    // `bytes` when above 0, so that records arrive split.
    typedef SecureChannel* (*ChannelFactory)(int receiveBlock);
    void set_channel_factory(ChannelFactory factory) { channelFactory = factory; }
    void set_receive_limit(int bytes) { receiveLimit = bytes; }
    static const int kTlsReceiveBlock = 1024 * 1024;

private:
    // The rest of a 200 response's body into the buffer of GetBuffer.
    int recv_into_buffer(intptr_t socket, const char* first, int received, int headerLength, const char* extra,
                         int extraCount);
    // The buffer of GetBuffer while it runs; null for GetFile.
    char* bodyBuffer = nullptr;
    int bodyCapacity = 0;
    int* bodyLength = nullptr;
    void Log(int minLevel, const char* operation, const char* format, ...);
    int compose_request(char* request, int size, const char* path, const char* loginScheme, const char* loginToken,
                        bool keepAlive);
    int compose_connect(char* request, int size, const char* loginScheme, const char* loginToken, bool keepAlive);
    // The Proxy-Authorization line of Basic for a proxy known to want it,
    // "" otherwise; false when the credentials do not fit.
    bool basic_line(char* line, int size);
    // True when the last answer was a 407 that asks for Basic, which the
    // request before it did not carry, and there are credentials to give:
    // the proxy is remembered as wanting Basic.
    bool basic_wanted();
    // True when the last answer was a 407 offering a Windows login this
    // client can give, to this proxy.
    bool windows_login_wanted();
    // True (and logged) when the proxy has no user and may not get the
    // logged-on user's own login.
    bool own_login_refused();
    // The legs of a Windows login on one connection: on `tunnel` (a socket)
    // CONNECT requests, ending with the tunnel open (0); without one (-1)
    // the request for `path` on a connection of its own to `address`,
    // ending with the answer received as recv_file does.
    int windows_login(intptr_t tunnel, const NetAddress* address, const char* path, const char* localPath);
    int read_head(intptr_t socket, char* buffer, int size, int* headerLength);
    // Records the login schemes a 407 answer's header offers.
    void note_proxy_offer(const char* head, int headerLength);
    int skip_body(intptr_t socket, long long count);
    void Note(const char* operation, const char* text);
    int ConnectMs() const;
    int IoMs() const;
    bool Cancelled();
    // A wait of `milliseconds` in short slices, so that a cancel is heard
    // during it: the wait's own result, or -3 when cancelled.
    int WaitSliced(int (*wait)(intptr_t, int), intptr_t socket, int milliseconds);

    int level;
    HttpTimeouts timeouts;
    IAD_URL* url;
    IAD_URL* proxy;
    const char* host_name;
    SecureChannel* channel;  // open on the current connection, or null
    TlsLink* link;           // the channel's socket
    ChannelFactory channelFactory;
    int receiveLimit;
    TlsFailure tlsFailure;
    char tlsFailureHost[256];
    char tunnelExtra[kHeaderBlock];
    int tunnelExtraCount;
    ProxyLogin* proxy_login;
    bool own_login_allowed;
    bool own_login_refusal;  // in the last GetFile
    BasicProxyMemory* basic_memory;  // borrowed, or own_basic_memory
    BasicProxyMemory* own_basic_memory;
    bool basic_sent;   // the last request or CONNECT carried Basic
    int proxy_offer;   // schemes of the last 407
    int login_scheme;  // the Windows login that got through this proxy
    bool tunnel_login; // the next CONNECT carries the login from its start
    int last_status;   // of the last answer that recv_answer read
    HttpCancelCheck cancelCheck;
    void* cancelContext;
    char failure[400];
};
