// TLS through the system's own SChannel (SSPI), so that no TLS library is
// shipped and the system's certificate store and its updates apply. The
// certificate is checked here, always, with the system's chain engine:
// SChannel's own validation is turned off because some implementations of
// it accept wrong names and expired certificates. secur32.dll and
// crypt32.dll are not KnownDLLs, so they are loaded by full path from the
// system folder, never from the program's folder.
#include <windows.h>
#include <wincrypt.h>
// The newer credentials record (SCH_CREDENTIALS) is declared only with
// this, and needs UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "http/secure_channel.h"
#include "base/system_dll_win.h"
#include "http/tls_records.h"

namespace {

typedef BOOL(WINAPI* GetChainFn)(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA,
                                 DWORD, LPVOID, PCCERT_CHAIN_CONTEXT*);
typedef BOOL(WINAPI* VerifyPolicyFn)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                     PCERT_CHAIN_POLICY_STATUS);
typedef VOID(WINAPI* FreeChainFn)(PCCERT_CHAIN_CONTEXT);
typedef BOOL(WINAPI* FreeCertFn)(PCCERT_CONTEXT);

// The entry points of both libraries and one credentials handle, made once
// per process and kept to its end (a shared handle also lets SChannel
// resume sessions across the connections of one fetch).
struct SystemTls {
    PSecurityFunctionTableA sspi;
    GetChainFn getChain;
    VerifyPolicyFn verifyPolicy;
    FreeChainFn freeChain;
    FreeCertFn freeCert;
    CredHandle credentials;
    bool ready;
};

SystemTls g_tls;
volatile LONG g_tlsState = 0;  // 0 not tried, 1 being made, 2 made (ready or not)

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
    if (!init || !g_tls.getChain || !g_tls.verifyPolicy || !g_tls.freeChain || !g_tls.freeCert) return;
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
          why(TlsNone), sendBuffer(nullptr) {
        host[0] = 0;
        std::memset(&sizes, 0, sizeof sizes);
    }
    ~SchannelChannel() override {
        if (haveContext) tls->sspi->DeleteSecurityContext(&context);
        std::free(sendBuffer);
    }

    int Start(TlsLink* link, const char* host, const char* early, int earlyCount) override;
    int Send(const char* bytes, int count) override;
    int Recv(char* buffer, int size) override;
    void Shutdown() override;
    TlsFailure failure() const override { return why; }
    bool closed_cleanly() const override { return notified; }

private:
    int Fail(TlsFailure reason) {
        why = reason;
        return -1;
    }
    int Handshake(bool fresh);
    int CheckCertificate();
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
    char host[256];
    TlsReadBuffer in;
    SecPkgContext_StreamSizes sizes;
    char* sendBuffer;
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
// to a trusted root, the SSL policy with the host name, and then any error
// of the chain itself, since some SSL policies report success for a chain
// that ends at an unknown issuer.
int SchannelChannel::CheckCertificate() {
    PCCERT_CONTEXT certificate = nullptr;
    if (tls->sspi->QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        !certificate)
        return Fail(TlsNotTrusted);
    CERT_CHAIN_PARA chainPara;
    std::memset(&chainPara, 0, sizeof chainPara);
    chainPara.cbSize = sizeof chainPara;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    BOOL built = tls->getChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                               &chain);
    tls->freeCert(certificate);
    if (!built || !chain) return Fail(TlsNotTrusted);

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
    tls->freeChain(chain);

    if (!checked) return Fail(TlsNotTrusted);
    switch (DWORD(policy.dwError)) {
    case 0:
        break;
    case DWORD(CERT_E_EXPIRED):
        return Fail(TlsExpired);
    case DWORD(CERT_E_CN_NO_MATCH):
        return Fail(TlsWrongName);
    default:
        return Fail(TlsNotTrusted);
    }
    if (chainErrors & CERT_TRUST_IS_NOT_TIME_VALID) return Fail(TlsExpired);
    if (chainErrors != 0) return Fail(TlsNotTrusted);
    return 0;
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
        if (status == SEC_I_RENEGOTIATE && Handshake(false) < 0) return -1;
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
