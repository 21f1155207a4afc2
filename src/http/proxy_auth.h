// Logins a proxy asks for: the schemes offered in its Proxy-Authenticate
// headers with their tokens, the choice among them, the proxies known to
// want Basic, and the interface of the Windows logins (Negotiate, NTLM)
// that the platform provides. Portable code.
#pragma once

enum ProxyScheme {
    kSchemeBasic = 1,
    kSchemeNtlm = 2,
    kSchemeNegotiate = 4,
};

// What the proxy's Proxy-Authenticate headers offer.
struct ProxyChallenge {
    int schemes;               // bit set of ProxyScheme
    int others;                // schemes offered that this client does not know
    char ntlmToken[4096];      // Base64 token after "NTLM", empty when none
    char negotiateToken[4096]; // Base64 token after "Negotiate", empty when none
    int tokenCut;              // a token did not fit and was dropped
};

// Reads every "Proxy-Authenticate:" line of a header block (name in any
// case, blanks after the colon; one challenge or several separated by
// commas on a line). Never reads past `length`.
void ParseProxyChallenge(const char* header, int length, ProxyChallenge* out);

// The scheme to use among those offered and usable: Negotiate, then NTLM,
// then Basic; 0 when none.
int PickProxyScheme(int offered, int usable);

// Whether a 407 offering `offered` is answered with Basic: only when Basic
// is offered and neither Windows login is. A password sent as Basic can be
// read by anyone on the way, so a proxy that can take a Windows login gets
// that instead, and no proxy gets Basic before it has asked for it.
int AnswerWithBasic(int offered);

// The proxies (host without regard to case, port) that asked for Basic in
// an earlier answer: they get the credentials with the first request from
// then on, which saves a round trip per request. A handful is remembered;
// a new one beyond that takes the place of the oldest. Not locked: one
// record is used by one thread at a time.
class BasicProxyMemory {
public:
    bool Knows(const char* host, int port) const;
    void Remember(const char* host, int port);
    // The proxy now asks for a Windows login: it no longer wants Basic.
    void Forget(const char* host, int port);

private:
    int Find(const char* host, int port) const;
    struct Entry {
        char host[256];
        int port;
    };
    static const int kEntries = 8;
    Entry entries[kEntries] = {};
    int count = 0;
    int next = 0;  // the entry a new proxy takes once all are used
};

// The scheme's name as it is written in the headers.
const char* ProxySchemeName(int scheme);

// "Negotiate, NTLM, Basic": the offered schemes in order of preference,
// for people to read; empty when none. Cut to `size`.
void DescribeProxySchemes(int schemes, char* out, int size);

// "DOMAIN\user" into its two parts; a name without a backslash has an
// empty domain. Both cut to their sizes.
void SplitDomainUser(const char* text, char* domain, int domainSize, char* user, int userSize);

// A Windows login towards a proxy, provided by the platform. One handshake
// at a time.
class ProxyLogin {
public:
    virtual ~ProxyLogin() {}
    // The schemes this login can speak (kSchemeNtlm, kSchemeNegotiate).
    virtual int Schemes() = 0;
    // The largest token of `scheme` in bytes, as the platform's package
    // states it (a Kerberos ticket of a user in many groups runs to tens of
    // kilobytes); 0 when it is not known.
    virtual int MaxTokenBytes(int scheme) = 0;
    // Starts a handshake for `scheme` with the proxy `host`: with a user
    // (and domain, password) those credentials, with a null user the
    // logged-on user's own. Writes the first token as Base64 text.
    // Returns 1 when more tokens will follow, 0 when this is the last one,
    // -1 when the scheme cannot be used.
    virtual int Begin(int scheme, const char* host, const char* domain, const char* user, const char* password,
                      char* token, int size) = 0;
    // Answers the proxy's Base64 challenge with the next token: 1 more will
    // follow, 0 the last one, -1 failure.
    virtual int Continue(const char* challenge, char* token, int size) = 0;
    // Drops the handshake's state.
    virtual void End() = 0;
};
