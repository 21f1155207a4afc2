// The proxy's side of the HTTP client's fetches: what the proxy asked for in
// its last 407, the Basic credentials of a proxy known to want them, the
// legs of a Windows login (Negotiate, NTLM) on one connection, for a GET as
// for the CONNECT of a tunnel, and the tunnel itself. Portable code.
#pragma once

#include "http/http_connection.h"
#include "http/http_message.h"

class BasicProxyMemory;
class IAD_URL;
class ProxyLogin;

class ProxyHandshake {
public:
    explicit ProxyHandshake(HttpLog& log);
    ~ProxyHandshake();
    ProxyHandshake(const ProxyHandshake&) = delete;
    ProxyHandshake& operator=(const ProxyHandshake&) = delete;

    void set_login(ProxyLogin* l) { login = l; }
    void set_own_login_allowed(bool allowed) { ownLoginAllowed = allowed; }
    void set_basic_memory(BasicProxyMemory* memory);
    // The proxy of the next requests, or null; borrowed until the next
    // call. A login that got through is kept for the same proxy and user
    // only.
    void use_proxy(const IAD_URL* next);

    // Schemes (ProxyScheme bits) of the last 407; 0 when none came.
    int schemes_asked() const { return offer; }
    // The Windows login that got through this proxy; 0 when none.
    int login_scheme() const { return loginScheme; }
    // The proxy is known to want a Windows login this client can give:
    // every request goes out with it.
    bool login_known() const { return login && loginScheme; }
    // A fetch begins: what the last one withheld is forgotten.
    void fetch_starts() { ownLoginWithheld = false; }
    // The fetch met a proxy that asked for a Windows login and had no
    // user, and the logged-on user's own was not offered to it.
    bool own_login_withheld() const { return ownLoginWithheld; }
    // Status of the last answer from the proxy's side (0 before any).
    int last_status() const { return lastStatus; }

    // The Proxy-Authorization of a request: Basic for a proxy known to want
    // it, none otherwise; false when the credentials do not fit. `token`
    // receives the Basic token and must hold kHttpRequestSize bytes.
    bool basic_credentials(char* token, HttpCredentials* out);
    // What an answer's status and header block tell about the proxy.
    void note_answer(int status, const char* head, int headerLength);
    // True when the last answer was a 407 that asks for Basic, which the
    // request before it did not carry, and there are credentials to give:
    // the proxy is remembered as wanting Basic.
    bool basic_wanted();
    // True when the last answer was a 407 offering a Windows login this
    // client can give, to this proxy.
    bool windows_login_wanted();

    // The legs of a Windows login. With `tunnel`, CONNECT requests on the
    // open connection, ending with the tunnel open (0, the bytes after the
    // answer kept as for open_tunnel). Without, GET requests for `target`
    // (or `path`) on a connection made to `address`: kAnswerFollows when
    // the last token went out and the answer is still to be read,
    // kAnswerRead when an answer other than 407 came before the last leg
    // (its bytes in answer()); the caller then reads the answer and tells
    // login_answered. -1 on failure, -2 on a time-out.
    static const int kAnswerFollows = 1;
    static const int kAnswerRead = 2;
    int windows_login(HttpConnection& connection, bool tunnel, const NetAddress* address, const char* name,
                      const IAD_URL& target, const char* path);
    const char* answer() const { return head; }
    int answer_count() const { return headCount; }
    // The result of reading the answer after a GET's login legs.
    void login_answered(int result);

    // Asks the proxy on an open connection for a tunnel to the target's
    // host and port; 0 when it answered 200. Bytes after its answer are
    // kept (tunnel_extra). With `withLogin` (or a proxy known to want a
    // Windows login) the CONNECT carries the login's legs.
    int open_tunnel(HttpConnection& connection, const IAD_URL& target, bool withLogin);
    const char* tunnel_extra() const { return extra; }
    int tunnel_extra_count() const { return extraCount; }

    // A Windows login's token when its package states no size of its own
    // (bytes); the 407 answers of a handshake must fit kLoginHeadSize.
    static const int kDefaultLoginToken = 12 * 1024;
    static const int kLoginHeadSize = 16 * 1024;

private:
    // True (and logged) when the proxy has no user and may not get the
    // logged-on user's own login.
    bool own_login_refused();
    // The bytes after a tunnel's answer; false (logged) when too many.
    bool keep_extra(const char* bytes, int count);

    HttpLog& log;
    const IAD_URL* proxy = nullptr;
    ProxyLogin* login = nullptr;
    bool ownLoginAllowed = true;
    bool ownLoginWithheld = false;
    BasicProxyMemory* memory;  // borrowed, or ownMemory
    BasicProxyMemory* ownMemory;
    bool basicSent = false;  // the last request or CONNECT carried Basic
    int offer = 0;
    int loginScheme = 0;
    int pendingScheme = 0;  // of a GET's login whose answer is still read
    int lastStatus = 0;
    char* head = nullptr;  // kLoginHeadSize bytes, while a login needs them
    int headCount = 0;
    char extra[kHttpHeaderBlock];
    int extraCount = 0;
};
