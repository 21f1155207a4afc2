// HTTP/1.0 client: fetches one file with GET, directly or through a proxy,
// with Basic authentication and redirects, into a local file or a buffer;
// https through the platform's secure channel, through a proxy by a CONNECT
// tunnel. A proxy that asks for a Windows login (Negotiate, NTLM) gets it,
// for plain requests and for the CONNECT alike, when the platform's login is
// set; a proxy gets Basic only once it has asked for it and for nothing else.
// The units under it: URL texts (http_url.h), request and answer framing
// (http_message.h), the connection with its waits (http_connection.h), the
// proxy's logins and tunnel (proxy_handshake.h) and redirects
// (http_redirect.h). Portable code over the small socket layer of net.h.
#pragma once
#include <cstdint>

#include "http/http_connection.h"
#include "http/http_message.h"
#include "http/proxy_handshake.h"

class IAD_URL;
class ProxyLogin;
class BasicProxyMemory;
struct NetAddress;

class IAD_HTTPClient {
public:
    explicit IAD_HTTPClient(int level, const HttpTimeouts& timeouts = HttpTimeouts());
    ~IAD_HTTPClient();
    IAD_HTTPClient(const IAD_HTTPClient&) = delete;
    IAD_HTTPClient& operator=(const IAD_HTTPClient&) = delete;

    // 0, or -1 when the target (or the given proxy) has no host, or a port
    // that is not a number from 1 to 65535.
    // An empty or null proxy text means a direct connection.
    int set_urls(const char* url, const char* proxy);
    // 0 when the body was received to the end and written; -1 otherwise.
    int GetFile(const char* path, const char* localPath);
    // The same, with the body received straight into `buffer`: 0 when it
    // ended within `capacity` bytes (*length gets its size), -1 when it
    // failed or was longer. The worker checks a part there before a byte
    // of it reaches the disk.
    int GetBuffer(const char* path, char* buffer, int capacity, int* length);
    // A body GetFile writes that is longer than this many bytes fails the
    // fetch, so that a server cannot fill the disk; 0 (the default) for no
    // limit.
    void set_file_limit(long long bytes) { fileLimit = bytes; }
    // Installs (or, with null, removes) the question that cancels transfers.
    void set_cancel(HttpCancelCheck check, void* context) { waits.set_cancel(check, context); }

    // The Windows logins (Negotiate, NTLM) the client may answer a proxy's
    // 407 with; none by default, so that only Basic is spoken. Borrowed.
    void set_proxy_login(ProxyLogin* login) { handshake.set_login(login); }
    // Whether a proxy without a proxy user may get the logged-on user's own
    // Windows login (the caller decides by where the proxy came from); yes
    // by default. Refused, the login fails without a token sent.
    void set_own_login_allowed(bool allowed) { handshake.set_own_login_allowed(allowed); }
    // The last GetFile met a proxy that asked for a Windows login and had
    // no user, and the logged-on user's own was not offered to it.
    bool own_login_withheld() const { return handshake.own_login_withheld(); }
    // The record of proxies known to want Basic, shared by the clients of a
    // run; borrowed. Without one the client keeps its own.
    void set_basic_memory(BasicProxyMemory* memory) { handshake.set_basic_memory(memory); }
    // The login schemes (bit set of ProxyScheme) the proxy asked for in its
    // last 407 answer to this client; 0 when none came.
    int proxy_schemes_asked() const { return handshake.schemes_asked(); }
    // The Windows login scheme that got through the proxy, remembered for
    // the same proxy; 0 when none.
    int proxy_login_scheme() const { return handshake.login_scheme(); }

    static const int kRequestSize = kHttpRequestSize;
    static const int kHeaderBlock = kHttpHeaderBlock;  // the header must end within it
    static const int kBodyBlock = 64 * 1024;           // blocks of a body written to a file
    static const int kDefaultLoginToken = ProxyHandshake::kDefaultLoginToken;
    static const int kLoginHeadSize = ProxyHandshake::kLoginHeadSize;

    // Steps of GetFile, public for the tests of the client itself.
    int resolve_host_name(NetAddress* address);
    // Writes the request text (NUL-terminated) and returns its length, or
    // -1 when it would not fit kRequestSize bytes.
    int build_request(char* request, const char* path);

    // Connections opened so far; a connection kept after a whole answer
    // serves the next GetFile to the same place without a new one.
    int connections_made() const { return connection.connections_made(); }
    // Closes a kept connection (the client's end closes it too).
    void drop_connection();

    // Why the last GetFile failed: its failures in order ("operation: text;
    // ..."), "" when it had none. A GetFile that succeeded may leave notes
    // of what it overcame.
    const char* last_failure() const { return log.failures(); }

    const IAD_URL* current_url() const { return url; }
    const IAD_URL* current_proxy() const { return proxy; }

    // Why the last https connection failed; TlsNone when it did not, and
    // the host it was for.
    TlsFailure tls_failure() const { return tlsFailure; }
    const char* tls_failure_host() const { return tlsFailureHost; }
    // The certificate the last failure refused (its subject), "" when not known.
    const char* tls_failure_certificate() const { return tlsFailureCertificate; }
    // What was known of revocation on the secure connections of the last
    // GetFile: the least of them (RevocationChecked when it had none).
    TlsRevocation tls_revocation() const { return tlsRevocation; }

    // Where secure channels come from (the platform's by default); tests
    // put in their own. Each receive of the raw socket is cut to
    // `bytes` when above 0, so that records arrive split.
    typedef SecureChannel* (*ChannelFactory)(int receiveBlock);
    void set_channel_factory(ChannelFactory factory) { channelFactory = factory; }
    void set_receive_limit(int bytes) { connection.set_receive_limit(bytes); }
    static const int kTlsReceiveBlock = 1024 * 1024;

private:
    // One request of GetFile on a new connection: 0 done, -1 failed (logged),
    // -2 the answer timed out, -3 a redirect was taken, kAgain to send the
    // request anew at once (a proxy asked for Basic, a send timed out).
    static const int kAgain = 1;
    // A kept connection the server had dropped while idle: the request is
    // sent once more on a new connection, no try counted.
    static const int kStale = 2;
    int request_once(const NetAddress& address, const char* path, const char* localPath, int* sendTimeouts);
    // The request of a proxy known to want a Windows login: the login's
    // legs, then the answer. As request_once.
    int request_with_login(const NetAddress& address, const char* path, const char* localPath);
    // A redirect taken: counted, the path argument dropped, the new host
    // resolved; false when the fetch ends here.
    bool follow_redirect(int* redirects, const char** path, NetAddress* address);
    // Opens the secure channel on the connection (through the tunnel when
    // there is a proxy). 0, or -1 with tls_failure() telling why.
    int start_secure(bool withLogin);
    // Reads the answer on the connection, `count` bytes of which were read
    // already: 0 done, -1 failure, -2 time-out, -3 a redirect was taken.
    int recv_answer(const char* localPath, const char* read, int count);
    // The 200 answer's body of `length` bytes (-1: up to the end of the
    // connection) after its header block, into the file or the buffer of
    // GetBuffer: `count` bytes of it at `first` and `extraCount` at `extra`
    // arrived with the head.
    int recv_body(const char* localPath, long long length, const char* first, int count, const char* extra,
                  int extraCount);
    // Where the open connection leads: the scheme, the proxy and the
    // target, so that a kept connection serves only requests it can carry.
    void connection_key(char* out, int size) const;

    // The answer just read left the connection fit for the next request:
    // its length framed the body, it was read whole and no further, and
    // the server did not say close.
    bool keepable = false;
    bool answerStarted = false;  // a byte of the answer arrived
    char keptFor[600] = "";      // connection_key of the kept connection

    HttpLog log;
    HttpWaits waits;
    HttpConnection connection;
    ProxyHandshake handshake;
    IAD_URL* url;
    IAD_URL* proxy;
    const char* host_name;
    ChannelFactory channelFactory;
    TlsFailure tlsFailure;
    char tlsFailureHost[256];
    char tlsFailureCertificate[256];
    TlsRevocation tlsRevocation;
    // The buffer of GetBuffer while it runs; null for GetFile.
    char* bodyBuffer = nullptr;
    int bodyCapacity = 0;
    int* bodyLength = nullptr;
    long long fileLimit = 0;
};
