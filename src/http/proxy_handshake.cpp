// The proxy's side of a fetch: Basic for proxies known to want it, the legs
// of a Windows login on one connection, and the CONNECT of a tunnel.
#include "http/proxy_handshake.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "http/http_url.h"
#include "http/proxy_auth.h"

namespace {
bool SameText(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}
}  // namespace

ProxyHandshake::ProxyHandshake(HttpLog& log) : log(log), ownMemory(new (std::nothrow) BasicProxyMemory) {
    memory = ownMemory;
}

ProxyHandshake::~ProxyHandshake() {
    delete ownMemory;
    std::free(head);
}

void ProxyHandshake::set_basic_memory(BasicProxyMemory* m) { memory = m ? m : ownMemory; }

void ProxyHandshake::use_proxy(const IAD_URL* next) {
    if (!next || !proxy || !SameText(next->host, proxy->host) || next->port != proxy->port ||
        !SameText(next->user, proxy->user) || !SameText(next->password, proxy->password))
        loginScheme = 0;
    proxy = next;
}

bool ProxyHandshake::basic_credentials(char* token, HttpCredentials* out) {
    out->scheme = out->token = nullptr;
    basicSent = false;
    if (!proxy || !proxy->has_login() || !memory || !memory->Knows(proxy->host, proxy->port)) return true;
    if (!BasicToken(proxy->user, proxy->password, token, kHttpRequestSize)) return false;
    out->scheme = "Basic";
    out->token = token;
    basicSent = true;
    return true;
}

// What a proxy's 407 asks for, to a GET or a CONNECT, decides whether a
// Windows login or Basic follows, and is shown to the user when nothing
// gets through.
void ProxyHandshake::note_answer(int status, const char* answer, int headerLength) {
    lastStatus = status;
    if (status != 407) return;
    ProxyChallenge* challenge = new (std::nothrow) ProxyChallenge;
    if (!challenge) return;
    ParseProxyChallenge(answer, headerLength, challenge);
    offer = challenge->schemes;
    delete challenge;
    if ((offer & (kSchemeNtlm | kSchemeNegotiate)) && proxy && memory) memory->Forget(proxy->host, proxy->port);
}

bool ProxyHandshake::basic_wanted() {
    if (lastStatus != 407 || !proxy || !AnswerWithBasic(offer)) return false;
    if (basicSent) {
        log.Log(1, "GetFile", "The proxy refused the Basic login\n");
        return false;
    }
    if (!proxy->has_login() || !memory) return false;
    memory->Remember(proxy->host, proxy->port);
    return memory->Knows(proxy->host, proxy->port);
}

bool ProxyHandshake::windows_login_wanted() {
    return lastStatus == 407 && login && proxy &&
           (PickProxyScheme(offer, login->Schemes()) & (kSchemeNtlm | kSchemeNegotiate)) && !own_login_refused();
}

bool ProxyHandshake::own_login_refused() {
    if (ownLoginAllowed || (proxy->user && proxy->user[0])) return false;
    ownLoginWithheld = true;
    log.Log(1, "GetFile", "The logged-on user's Windows login is not offered to the proxy %s\n", proxy->host);
    return true;
}

bool ProxyHandshake::keep_extra(const char* bytes, int count) {
    // The site has said nothing yet, so bytes after the answer are rare,
    // and kept for the channel.
    if (count > int(sizeof extra)) {
        log.Log(1, "open_tunnel", "Too many bytes after the answer to CONNECT\n");
        return false;
    }
    std::memcpy(extra, bytes, size_t(count));
    extraCount = count;
    return true;
}

void ProxyHandshake::login_answered(int result) {
    if (result == 0 || result == -3) {
        loginScheme = pendingScheme;
    } else if (result == -1 && lastStatus == 407) {
        log.Log(1, "GetFile", "The proxy refused the %s login\n", ProxySchemeName(pendingScheme));
    }
    pendingScheme = 0;
}

int ProxyHandshake::windows_login(HttpConnection& connection, bool tunnel, const NetAddress* address,
                                  const char* name, const IAD_URL& target, const char* path) {
    headCount = 0;
    pendingScheme = 0;
    int usable = login->Schemes();
    int offered = loginScheme ? loginScheme : offer;
    // With a proxy user, that user's credentials; without, the logged-on
    // user's own, where the caller lets them go to this proxy.
    bool own = proxy->user && proxy->user[0];
    if (own_login_refused()) return -1;
    char domain[260], user[260];
    domain[0] = user[0] = 0;
    if (own) SplitDomainUser(proxy->user, domain, sizeof domain, user, sizeof user);
    // Buffers for the largest token the packages may give, as Base64 text,
    // and a request around it.
    int tokenBytes = 0;
    for (int candidate : {int(kSchemeNegotiate), int(kSchemeNtlm)})
        if (offered & usable & candidate) {
            int most = login->MaxTokenBytes(candidate);
            if (most > tokenBytes) tokenBytes = most;
        }
    const int kMostTokenBytes = 1 << 20;
    if (tokenBytes <= 0) tokenBytes = kDefaultLoginToken;
    if (tokenBytes > kMostTokenBytes) tokenBytes = kMostTokenBytes;
    const int tokenSize = (tokenBytes + 2) / 3 * 4 + 1;
    const int requestSize = tokenSize + kHttpRequestSize + 256;
    char* token = static_cast<char*>(std::malloc(size_t(tokenSize)));
    char* request = static_cast<char*>(std::malloc(size_t(requestSize)));
    if (!head) head = static_cast<char*>(std::malloc(kLoginHeadSize));
    ProxyChallenge* challenge = new (std::nothrow) ProxyChallenge;
    int result = -1;
    int scheme = 0;
    int more = -1;
    if (!token || !request || !head || !challenge) goto done;
    // Negotiate first; where it cannot be used, NTLM.
    for (int candidate : {int(kSchemeNegotiate), int(kSchemeNtlm)}) {
        if (!(offered & usable & candidate)) continue;
        more = login->Begin(candidate, proxy->host, own ? domain : nullptr, own ? user : nullptr,
                            own ? (proxy->password ? proxy->password : "") : nullptr, token, tokenSize);
        if (more >= 0) {
            scheme = candidate;
            break;
        }
        log.Log(1, "GetFile", "No %s login with these credentials\n", ProxySchemeName(candidate));
    }
    if (!scheme) goto done;
    if (!tunnel && connection.connect_host(*address, name) < 0) {
        log.Log(1, "GetFile", "Can't connect.\n");
        goto done;
    }
    // A handshake has a few legs; more than that is a proxy going round in
    // circles, and a 407 after the last token is a refused login.
    for (int leg = 0; leg < 4; ++leg) {
        const char* schemeName = ProxySchemeName(scheme);
        HttpCredentials credentials = {schemeName, token};
        int length = tunnel ? ComposeConnect(target, credentials, more == 1, request, requestSize)
                            : ComposeGet(GetRequest{&target, path, true, credentials, more == 1}, request,
                                         requestSize);
        basicSent = false;
        if (length < 0) {
            log.Log(1, "GetFile", "Request does not fit %d bytes\n", requestSize);
            break;
        }
        int sent = connection.full_send(request, length);
        if (sent < 0) {
            result = sent;
            break;
        }
        if (more == 0 && !tunnel) {
            // No keep-alive asked: the answer ends with the connection.
            pendingScheme = scheme;
            result = kAnswerFollows;
            break;
        }
        int headerLength = 0;
        int n = connection.read_head(head, kLoginHeadSize, 0, &headerLength);
        if (n < 0) {
            result = n;
            break;
        }
        if (headerLength < 0) break;
        IAD_HTTPHeader header;
        header.clear();
        header.parse(head, n);
        if (tunnel && header.status != 407) {
            lastStatus = header.status;
            if (header.status != 200) {
                log.Log(1, "open_tunnel", "Proxy refused CONNECT: %d\n", header.status);
                break;
            }
            if (!keep_extra(head + headerLength, n - headerLength)) break;
            loginScheme = scheme;
            result = 0;
            break;
        }
        if (header.status != 407) {
            // Let through before the handshake ended: this is the answer.
            headCount = n;
            pendingScheme = scheme;
            result = kAnswerRead;
            break;
        }
        lastStatus = 407;
        ParseProxyChallenge(head, headerLength, challenge);
        offer = challenge->schemes;
        const char* answer = scheme == kSchemeNtlm ? challenge->ntlmToken : challenge->negotiateToken;
        if (more == 0 || !answer[0]) {
            log.Log(1, "GetFile", "The proxy refused the %s login\n", schemeName);
            break;
        }
        // The 407's body is read whole, so that the next token goes out on
        // the same connection.
        long long bodyLength = HeaderContentLength(head, headerLength);
        long long already = n - headerLength;
        if (bodyLength < 0 || already > bodyLength || !HeaderKeepsConnection(head, headerLength)) {
            log.Log(1, "GetFile", "The proxy does not keep the connection for the login\n");
            break;
        }
        int skipped = connection.skip(bodyLength - already);
        if (skipped < 0) {
            result = skipped;
            break;
        }
        more = login->Continue(answer, token, tokenSize);
        if (more < 0) {
            log.Log(1, "GetFile", "The %s challenge cannot be answered\n", schemeName);
            break;
        }
    }
done:
    if (result < 0 && !tunnel) connection.close();
    if (scheme) login->End();
    delete challenge;
    std::free(request);
    std::free(token);
    return result;
}

int ProxyHandshake::open_tunnel(HttpConnection& connection, const IAD_URL& target, bool withLogin) {
    extraCount = 0;
    lastStatus = 0;
    // A proxy known to want a Windows login, or that has just asked for
    // one on a connection of its own, gets the handshake on this one.
    if (login && (loginScheme || withLogin)) return windows_login(connection, true, nullptr, nullptr, target, nullptr);
    char request[kHttpRequestSize];
    char token[kHttpRequestSize];
    HttpCredentials basic;
    if (!basic_credentials(token, &basic)) return -1;
    int length = ComposeConnect(target, basic, false, request, sizeof request);
    if (length < 0) return -1;
    if (connection.raw_send(request, length) != length) {
        log.Log(1, "open_tunnel", "Can't send CONNECT\n");
        return -1;
    }
    char answer[kHttpHeaderBlock];
    int end = -1;
    int have = connection.read_head(answer, int(sizeof answer), 0, &end);
    if (have <= 0 || end < 0) {
        if (have == int(sizeof answer))
            log.Log(1, "open_tunnel", "Answer to CONNECT too long\n");
        else
            log.Log(1, "open_tunnel", "No answer to CONNECT (%d)\n", have);
        return -1;
    }
    IAD_HTTPHeader header;
    header.clear();
    header.parse(answer, have);
    note_answer(header.status, answer, header.header_length);
    if (header.status != 200) {
        log.Log(1, "open_tunnel", "Proxy refused CONNECT: %d\n", header.status);
        return -1;
    }
    return keep_extra(answer + header.header_length, have - header.header_length) ? 0 : -1;
}
