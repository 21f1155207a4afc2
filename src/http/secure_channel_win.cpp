// TLS through the system's own SChannel (SSPI), so that no TLS library is
// shipped and the system's certificate store and its updates apply. The
// certificate is checked here, always, with the system's chain engine, as
// browsers check it: for server authentication, with the revocation of
// every certificate but the root, its retrieval bounded in time. SChannel's
// own validation is turned off because some implementations of it accept
// wrong names and expired certificates. After a renegotiation the peer
// must still show the certificate that was checked. secur32.dll and
// crypt32.dll are not KnownDLLs, so they are loaded by full path from the
// system folder, never from the program's folder.
#include <windows.h>
// The chain parameters with the retrieval time-out.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include <wincrypt.h>
// The newer credentials record (SCH_CREDENTIALS) is declared only with
// this, and needs UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "http/secure_channel.h"
#include "base/system_dll_win.h"
#include "http/certificate_rules.h"
#include "http/tls_records.h"

namespace {

typedef BOOL(WINAPI* GetChainFn)(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA,
                                 DWORD, LPVOID, PCCERT_CHAIN_CONTEXT*);
typedef BOOL(WINAPI* VerifyPolicyFn)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                     PCERT_CHAIN_POLICY_STATUS);
typedef VOID(WINAPI* FreeChainFn)(PCCERT_CHAIN_CONTEXT);
typedef BOOL(WINAPI* FreeCertFn)(PCCERT_CONTEXT);
typedef DWORD(WINAPI* NameFn)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPSTR, DWORD);

// The longest the revocation of one chain may take to fetch: a revocation
// server that does not answer costs this much, and the certificate is then
// accepted with its revocation unknown.
const DWORD kRevocationRetrievalMs = 10000;

// The entry points of both libraries and one credentials handle, made once
// per process and kept to its end (a shared handle also lets SChannel
// resume sessions across the connections of one fetch).
struct SystemTls {
    PSecurityFunctionTableA sspi;
    GetChainFn getChain;
    VerifyPolicyFn verifyPolicy;
    FreeChainFn freeChain;
    FreeCertFn freeCert;
    NameFn certName;
    CredHandle credentials;
    bool ready;
};

SystemTls g_tls;
volatile LONG g_tlsState = 0;  // 0 not tried, 1 being made, 2 made (ready or not)

// The leaves found revoked in this run stay refused: some chain engines
// answer a second revocation check of a revoked certificate from a cache
// that forgot the refusal.
RevokedCertificates g_revoked;
CRITICAL_SECTION g_revokedLock;

// TLS 1.2 and 1.3 only: the newer credentials record first, the older one
// where the system does not know it, and TLS 1.2 alone where 1.3 is
// unknown too.
bool AcquireCredentials(PSecurityFunctionTableA sspi, CredHandle* out) {
    const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    TLS_PARAMETERS parameters;
    std::memset(&parameters, 0, sizeof parameters);
    parameters.grbitDisabledProtocols = ~DWORD(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
    SCH_CREDENTIALS modern;
    std::memset(&modern, 0, sizeof modern);
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = flags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    char package[] = UNISP_NAME_A;
    if (sspi->AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
                                        nullptr, out, &expiry) == SEC_E_OK)
        return true;
    const DWORD protocols[2] = {SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT, SP_PROT_TLS1_2_CLIENT};
    for (DWORD enabled : protocols) {
        SCHANNEL_CRED old;
        std::memset(&old, 0, sizeof old);
        old.dwVersion = SCHANNEL_CRED_VERSION;
        old.dwFlags = flags;
        old.grbitEnabledProtocols = enabled;
        if (sspi->AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &old, nullptr,
                                            nullptr, out, &expiry) == SEC_E_OK)
            return true;
    }
    return false;
}

void MakeSystemTls() {
    std::memset(&g_tls, 0, sizeof g_tls);
    InitializeCriticalSection(&g_revokedLock);
    HMODULE secur32 = LoadSystemLibrary("secur32.dll");
    HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
    if (!secur32 || !crypt32) return;
    INIT_SECURITY_INTERFACE_A init =
        reinterpret_cast<INIT_SECURITY_INTERFACE_A>(GetProcAddress(secur32, "InitSecurityInterfaceA"));
    g_tls.getChain = reinterpret_cast<GetChainFn>(GetProcAddress(crypt32, "CertGetCertificateChain"));
    g_tls.verifyPolicy =
        reinterpret_cast<VerifyPolicyFn>(GetProcAddress(crypt32, "CertVerifyCertificateChainPolicy"));
    g_tls.freeChain = reinterpret_cast<FreeChainFn>(GetProcAddress(crypt32, "CertFreeCertificateChain"));
    g_tls.freeCert = reinterpret_cast<FreeCertFn>(GetProcAddress(crypt32, "CertFreeCertificateContext"));
    g_tls.certName = reinterpret_cast<NameFn>(GetProcAddress(crypt32, "CertGetNameStringA"));
    if (!init || !g_tls.getChain || !g_tls.verifyPolicy || !g_tls.freeChain || !g_tls.freeCert || !g_tls.certName)
        return;
    g_tls.sspi = init();
    if (!g_tls.sspi) return;
    g_tls.ready = AcquireCredentials(g_tls.sspi, &g_tls.credentials);
}

const SystemTls* TheSystemTls() {
    for (;;) {
        LONG state = InterlockedCompareExchange(&g_tlsState, 1, 0);
        if (state == 0) {
            MakeSystemTls();
            InterlockedExchange(&g_tlsState, 2);
            break;
        }
        if (state == 2) break;
        Sleep(1);
    }
    return g_tls.ready ? &g_tls : nullptr;
}

const ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                            ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                            ISC_REQ_MANUAL_CRED_VALIDATION;

class SchannelChannel : public SecureChannel {
public:
    SchannelChannel(const SystemTls* tls, int receiveBlock)
        : tls(tls), receiveBlock(receiveBlock), link(nullptr), haveContext(false), ended(false),
          why(TlsNone), revocationState(RevocationChecked), sendBuffer(nullptr), leaf(nullptr), leafSize(0) {
        host[0] = 0;
        refused[0] = 0;
        std::memset(&sizes, 0, sizeof sizes);
    }
    ~SchannelChannel() override {
        if (haveContext) tls->sspi->DeleteSecurityContext(&context);
        std::free(sendBuffer);
        std::free(leaf);
    }

    int Start(TlsLink* link, const char* host, const char* early, int earlyCount) override;
    int Send(const char* bytes, int count) override;
    int Recv(char* buffer, int size) override;
    void Shutdown() override;
    TlsFailure failure() const override { return why; }
    bool closed_cleanly() const override { return notified; }
    TlsRevocation revocation() const override { return revocationState; }
    const char* refused_certificate() const override { return refused; }
    const char* detail() const override { return details; }

private:
    int Fail(TlsFailure reason) {
        why = reason;
        return -1;
    }
    int Handshake(bool fresh);
    int CheckCertificate();
    // After a renegotiation: 0 when the peer shows the leaf that was checked.
    int SameLeaf();
    // The subject's name of the first certificate of the chain with any of
    // `errors`, into `refused`.
    void NameRefused(PCCERT_CHAIN_CONTEXT chain, DWORD errors);
    int SendToken(SecBuffer* token);
    int DecryptWholeRecords();

    const SystemTls* tls;
    int receiveBlock;
    TlsLink* link;
    CtxtHandle context;
    bool haveContext;
    bool ended;  // close-notify seen, or the peer closed between records
    bool notified = false;  // the end was the peer's close-notify
    TlsFailure why;
    TlsRevocation revocationState;
    char host[256];
    char refused[256];
    char details[128] = "";
    TlsReadBuffer in;
    SecPkgContext_StreamSizes sizes;
    char* sendBuffer;
    unsigned char* leaf;  // the encoded leaf that was checked
    DWORD leafSize;
};

int SchannelChannel::SendToken(SecBuffer* token) {
    int result = 0;
    if (token->pvBuffer && token->cbBuffer > 0)
        result = link->SendAll(static_cast<char*>(token->pvBuffer), int(token->cbBuffer)) ==
                         int(token->cbBuffer) ? 0 : -1;
    if (token->pvBuffer) tls->sspi->FreeContextBuffer(token->pvBuffer);
    token->pvBuffer = nullptr;
    token->cbBuffer = 0;
    return result;
}

// Runs the handshake (or its continuation after a renegotiation request)
// over the bytes in `in`, receiving only when SChannel has used them all:
// a step that needs more work with input left must be called again before
// the next receive, or the handshake waits for bytes that never come.
int SchannelChannel::Handshake(bool fresh) {
    // A continuation (after a renegotiation request or a post-handshake
    // message) asks SChannel at once with whatever followed the record,
    // even nothing: the bytes it waits for may never come otherwise.
    bool needInput = false;
    bool askNow = !fresh;
    bool first = fresh;
    // Steps that made progress; waiting for more bytes is bounded by the
    // link's time-outs and the buffer's room instead.
    int steps = 0;
    while (steps < 64) {
        // SChannel is asked only once a whole record is there: receives of
        // a few bytes would otherwise cost one call each.
        while (needInput || (!first && !askNow && in.WholeRecord() == 0)) {
            char* space = in.RecvSpace();
            if (in.RecvRoom() <= 0) return Fail(TlsHandshakeFailed);
            int n = link->RecvSome(space, in.RecvRoom());
            if (n <= 0) return Fail(TlsHandshakeFailed);
            in.Received(n);
            needInput = false;
        }
        askNow = false;
        if (in.WholeRecord() < 0) return Fail(TlsHandshakeFailed);
        SecBuffer inBuffers[2];
        inBuffers[0].BufferType = SECBUFFER_TOKEN;
        inBuffers[0].cbBuffer = ULONG(in.CipherCount());
        inBuffers[0].pvBuffer = in.Cipher();
        inBuffers[1].BufferType = SECBUFFER_EMPTY;
        inBuffers[1].cbBuffer = 0;
        inBuffers[1].pvBuffer = nullptr;
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffer;
        outBuffer.BufferType = SECBUFFER_TOKEN;
        outBuffer.cbBuffer = 0;
        outBuffer.pvBuffer = nullptr;
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &outBuffer};
        ULONG attributes = 0;
        SECURITY_STATUS status = tls->sspi->InitializeSecurityContextA(
            const_cast<PCredHandle>(&tls->credentials), first ? nullptr : &context, host, kContextFlags, 0, 0,
            first ? nullptr : &inDesc, 0, first ? &context : nullptr, &outDesc, &attributes, nullptr);
        if (first && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) haveContext = true;
        first = false;
        if (SendToken(&outBuffer) < 0) return Fail(TlsHandshakeFailed);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        ++steps;
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA && int(inBuffers[1].cbBuffer) <= in.CipherCount())
            in.DropCipher(in.CipherCount() - int(inBuffers[1].cbBuffer));
        else
            in.DropCipher(in.CipherCount());
        if (status == SEC_E_OK) return 0;
        if (status == SEC_I_CONTINUE_NEEDED) {
            needInput = in.CipherCount() == 0;
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            // No client certificate is ever offered: go on without one.
            needInput = false;
            continue;
        }
        return Fail(TlsHandshakeFailed);
    }
    return Fail(TlsHandshakeFailed);
}

// The program's own check of the server's certificate: the system's chain
// for server authentication to a trusted root, the SSL policy with the host
// name, and then any error of the chain itself, since some SSL policies
// report success for a chain that ends at an unknown issuer; then the
// chain again with the revocation of every certificate but the root.
int SchannelChannel::CheckCertificate() {
    PCCERT_CONTEXT certificate = nullptr;
    SECURITY_STATUS remote = tls->sspi->QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (remote != SEC_E_OK || !certificate) {
        std::snprintf(details, sizeof details, "no server certificate (0x%08lx)", static_cast<unsigned long>(remote));
        return Fail(TlsNotTrusted);
    }
    // The leaf is kept to tell it again after a renegotiation.
    std::free(leaf);
    leafSize = certificate->cbCertEncoded;
    leaf = static_cast<unsigned char*>(std::malloc(leafSize ? leafSize : 1));
    if (!leaf) {
        tls->freeCert(certificate);
        return Fail(TlsHandshakeFailed);
    }
    std::memcpy(leaf, certificate->pbCertEncoded, leafSize);
    EnterCriticalSection(&g_revokedLock);
    const char* known = g_revoked.Find(leaf, leafSize);
    if (known) std::snprintf(refused, sizeof refused, "%s", known);
    LeaveCriticalSection(&g_revokedLock);
    if (known) {
        tls->freeCert(certificate);
        return Fail(TlsRevoked);
    }

    LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA chainPara;
    std::memset(&chainPara, 0, sizeof chainPara);
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
    chainPara.dwUrlRetrievalTimeout = kRevocationRetrievalMs;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    BOOL built = tls->getChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                               &chain);
    if (!built || !chain) {
        std::snprintf(details, sizeof details, "no chain built (error %lu)", static_cast<unsigned long>(GetLastError()));
        tls->freeCert(certificate);
        return Fail(TlsNotTrusted);
    }

    WCHAR wideHost[256];
    if (MultiByteToWideChar(CP_ACP, 0, host, -1, wideHost, 256) == 0) wideHost[0] = 0;
    HTTPSPolicyCallbackData https;
    std::memset(&https, 0, sizeof https);
    https.cbStruct = sizeof https;
    https.dwAuthType = AUTHTYPE_SERVER;
    https.pwszServerName = wideHost;
    CERT_CHAIN_POLICY_PARA policyPara;
    std::memset(&policyPara, 0, sizeof policyPara);
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &https;
    CERT_CHAIN_POLICY_STATUS policy;
    std::memset(&policy, 0, sizeof policy);
    policy.cbSize = sizeof policy;
    BOOL checked = tls->verifyPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policy);
    DWORD chainErrors = chain->TrustStatus.dwErrorStatus;
    // Kept to name a certificate this chain already knows to be revoked.
    PCCERT_CHAIN_CONTEXT first = chain;
    chain = nullptr;

    // Revocation only for a certificate good in every other way: its
    // servers are asked only about a certificate that would be used.
    DWORD revocationErrors = 0;
    if (checked && policy.dwError == 0 && chainErrors == 0) {
        const DWORD flags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
        if (!tls->getChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, flags, nullptr,
                           &chain) ||
            !chain) {
            std::snprintf(details, sizeof details, "no chain built for revocation (error %lu)",
                          static_cast<unsigned long>(GetLastError()));
            tls->freeChain(first);
            tls->freeCert(certificate);
            return Fail(TlsNotTrusted);
        }
        revocationErrors = chain->TrustStatus.dwErrorStatus;
    }
    tls->freeCert(certificate);
    CertificateVerdict verdict = JudgeCertificate(chainErrors, DWORD(policy.dwError), revocationErrors);
    std::snprintf(details, sizeof details, "policy %s 0x%08lx, chain 0x%08lx, revocation 0x%08lx",
                  checked ? "said" : "failed", static_cast<unsigned long>(policy.dwError),
                  static_cast<unsigned long>(chainErrors), static_cast<unsigned long>(revocationErrors));
    if (verdict.failure == TlsRevoked) {
        NameRefused(chain ? chain : first, CERT_TRUST_IS_REVOKED);
        EnterCriticalSection(&g_revokedLock);
        g_revoked.Remember(leaf, leafSize, refused);
        LeaveCriticalSection(&g_revokedLock);
    }
    if (chain) tls->freeChain(chain);
    tls->freeChain(first);

    if (!checked) return Fail(TlsNotTrusted);
    if (verdict.failure != TlsNone) return Fail(verdict.failure);
    revocationState = verdict.revocation;
    return 0;
}

void SchannelChannel::NameRefused(PCCERT_CHAIN_CONTEXT chain, DWORD errors) {
    refused[0] = 0;
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
        for (DWORD e = 0; e < simple->cElement; ++e) {
            const CERT_CHAIN_ELEMENT* element = simple->rgpElement[e];
            if (!(element->TrustStatus.dwErrorStatus & errors)) continue;
            if (tls->certName(element->pCertContext, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, refused,
                              sizeof refused) == 0)
                refused[0] = 0;
            return;
        }
    }
}

int SchannelChannel::SameLeaf() {
    PCCERT_CONTEXT certificate = nullptr;
    if (tls->sspi->QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        !certificate)
        return Fail(TlsNotTrusted);
    bool same = leaf && certificate->cbCertEncoded == leafSize &&
                std::memcmp(certificate->pbCertEncoded, leaf, leafSize) == 0;
    tls->freeCert(certificate);
    // The same bytes were checked moments ago; another certificate in the
    // middle of a connection is never taken.
    return same ? 0 : Fail(TlsNotTrusted);
}

int SchannelChannel::Start(TlsLink* theLink, const char* theHost, const char* early, int earlyCount) {
    link = theLink;
    size_t length = std::strlen(theHost);
    if (length >= sizeof host) return Fail(TlsHandshakeFailed);
    std::memcpy(host, theHost, length + 1);
    if (!in.Init(receiveBlock) || !in.Append(early, earlyCount)) return Fail(TlsHandshakeFailed);
    if (Handshake(true) < 0) return -1;
    if (CheckCertificate() < 0) return -1;
    if (tls->sspi->QueryContextAttributesA(&context, SECPKG_ATTR_STREAM_SIZES, &sizes) != SEC_E_OK ||
        sizes.cbMaximumMessage == 0)
        return Fail(TlsHandshakeFailed);
    sendBuffer = static_cast<char*>(std::malloc(sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer));
    if (!sendBuffer) return Fail(TlsHandshakeFailed);
    return 0;
}

int SchannelChannel::Send(const char* bytes, int count) {
    int done = 0;
    while (done < count) {
        int n = count - done;
        if (n > int(sizes.cbMaximumMessage)) n = int(sizes.cbMaximumMessage);
        char* data = sendBuffer + sizes.cbHeader;
        std::memcpy(data, bytes + done, size_t(n));
        SecBuffer buffers[4];
        buffers[0].BufferType = SECBUFFER_STREAM_HEADER;
        buffers[0].cbBuffer = sizes.cbHeader;
        buffers[0].pvBuffer = sendBuffer;
        buffers[1].BufferType = SECBUFFER_DATA;
        buffers[1].cbBuffer = ULONG(n);
        buffers[1].pvBuffer = data;
        buffers[2].BufferType = SECBUFFER_STREAM_TRAILER;
        buffers[2].cbBuffer = sizes.cbTrailer;
        buffers[2].pvBuffer = data + n;
        buffers[3].BufferType = SECBUFFER_EMPTY;
        buffers[3].cbBuffer = 0;
        buffers[3].pvBuffer = nullptr;
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        if (tls->sspi->EncryptMessage(&context, 0, &desc, 0) != SEC_E_OK) return -1;
        // Exactly the sizes SChannel filled in: a header or trailer shorter
        // than the largest would otherwise send stray bytes.
        for (int i = 0; i < 3; ++i) {
            if (buffers[i].cbBuffer == 0) continue;
            int r = link->SendAll(static_cast<char*>(buffers[i].pvBuffer), int(buffers[i].cbBuffer));
            if (r != int(buffers[i].cbBuffer)) return r == -2 ? -2 : -1;
        }
        done += n;
    }
    return count;
}

// Every whole record in the buffer is decrypted in one pass, before the next
// receive; an incomplete one waits for its remaining bytes. 0, or -1.
int SchannelChannel::DecryptWholeRecords() {
    while (!ended) {
        int whole = in.WholeRecord();
        if (whole < 0) return -1;
        if (whole == 0) return 0;
        SecBuffer buffers[4];
        buffers[0].BufferType = SECBUFFER_DATA;
        buffers[0].cbBuffer = ULONG(whole);
        buffers[0].pvBuffer = in.Cipher();
        for (int i = 1; i < 4; ++i) {
            buffers[i].BufferType = SECBUFFER_EMPTY;
            buffers[i].cbBuffer = 0;
            buffers[i].pvBuffer = nullptr;
        }
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = tls->sspi->DecryptMessage(&context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return 0;
        const SecBuffer* plain = nullptr;
        int extra = 0;
        for (int i = 0; i < 4; ++i) {
            if (buffers[i].BufferType == SECBUFFER_DATA) plain = &buffers[i];
            if (buffers[i].BufferType == SECBUFFER_EXTRA) extra = int(buffers[i].cbBuffer);
        }
        if (extra < 0 || extra >= whole) extra = 0;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            // The peer's close-notify: the stream ends here.
            in.DropCipher(whole);
            ended = true;
            notified = true;
            return 0;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return -1;
        if (!in.RecordDecrypted(plain ? static_cast<char*>(plain->pvBuffer) : nullptr,
                                plain ? int(plain->cbBuffer) : 0, whole - extra))
            return -1;
        if (status == SEC_I_RENEGOTIATE && (Handshake(false) < 0 || SameLeaf() < 0)) return -1;
    }
    return 0;
}

int SchannelChannel::Recv(char* buffer, int size) {
    for (;;) {
        if (in.PlainCount() > 0) return in.TakePlain(buffer, size);
        if (ended) return 0;
        if (DecryptWholeRecords() < 0) return -1;
        if (in.PlainCount() > 0 || ended) continue;
        char* space = in.RecvSpace();
        int room = in.RecvRoom();
        if (room <= 0) return -1;
        int n = link->RecvSome(space, room);
        if (n < 0) return n;
        if (n == 0) {
            // Closed between records: the end of the stream, as a plain
            // connection's close. Closed inside one: the rest is lost.
            if (in.CipherCount() > 0) return -1;
            ended = true;
            return 0;
        }
        in.Received(n);
    }
}

void SchannelChannel::Shutdown() {
    if (!haveContext) return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control;
    control.BufferType = SECBUFFER_TOKEN;
    control.cbBuffer = sizeof type;
    control.pvBuffer = &type;
    SecBufferDesc controlDesc = {SECBUFFER_VERSION, 1, &control};
    if (tls->sspi->ApplyControlToken(&context, &controlDesc) != SEC_E_OK) return;
    SecBuffer outBuffer;
    outBuffer.BufferType = SECBUFFER_TOKEN;
    outBuffer.cbBuffer = 0;
    outBuffer.pvBuffer = nullptr;
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &outBuffer};
    ULONG attributes = 0;
    SECURITY_STATUS status = tls->sspi->InitializeSecurityContextA(
        const_cast<PCredHandle>(&tls->credentials), &context, host, kContextFlags, 0, 0, nullptr, 0, nullptr,
        &outDesc, &attributes, nullptr);
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) SendToken(&outBuffer);
    else if (outBuffer.pvBuffer) tls->sspi->FreeContextBuffer(outBuffer.pvBuffer);
}

}  // namespace

SecureChannel* NewSecureChannel(int receiveBlock) {
    const SystemTls* tls = TheSystemTls();
    if (!tls) return nullptr;
    return new (std::nothrow) SchannelChannel(tls, receiveBlock);
}
