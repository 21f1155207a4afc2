// Proxy logins through the security support provider interface: the
// credentials of a package ("Negotiate" or "NTLM") for the logged-on user or
// for explicit ones, and a context whose tokens travel in the proxy's
// headers as Base64 text.
#include "http/sspi_login_win.h"

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
#include <sspi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/system_dll_win.h"
#include "http/codec.h"

namespace {
// The interface's table, loaded once and kept for the process.
PSecurityFunctionTableA Table() {
    static PSecurityFunctionTableA table = [] () -> PSecurityFunctionTableA {
        HMODULE module = LoadSystemLibrary("secur32.dll");
        if (!module) return nullptr;
        INIT_SECURITY_INTERFACE_A init =
            reinterpret_cast<INIT_SECURITY_INTERFACE_A>(GetProcAddress(module, "InitSecurityInterfaceA"));
        return init ? init() : nullptr;
    }();
    return table;
}

const char* PackageName(int scheme) {
    return scheme == kSchemeNegotiate ? "Negotiate" : scheme == kSchemeNtlm ? "NTLM" : nullptr;
}

// The package's own statement of its largest token; 0 when it has none.
// Kerberos tickets of users in many groups run to tens of kilobytes, and
// the package knows how large it lets them grow.
int PackageMaxToken(PSecurityFunctionTableA table, int scheme) {
    const char* package = PackageName(scheme);
    if (!table || !package || !table->QuerySecurityPackageInfoA) return 0;
    PSecPkgInfoA info = nullptr;
    if (table->QuerySecurityPackageInfoA(const_cast<char*>(package), &info) != SEC_E_OK || !info) return 0;
    unsigned long most = info->cbMaxToken;
    table->FreeContextBuffer(info);
    const unsigned long kSane = 1UL << 20;
    return most > 0 && most <= kSane ? static_cast<int>(most) : 0;
}

const int kFallbackToken = 12 * 1024;  // bytes, for a package that states no size
}  // namespace

struct SspiProxyLogin::State {
    CredHandle credentials;
    CtxtHandle context;
    bool haveCredentials;
    bool haveContext;
    char target[300];
    unsigned char* buffer;  // one token of the package's largest size
    int bufferSize;
};

SspiProxyLogin::SspiProxyLogin() : state(new (std::nothrow) State()) {}

SspiProxyLogin::~SspiProxyLogin() {
    End();
    if (state) std::free(state->buffer);
    delete state;
}

int SspiProxyLogin::Schemes() {
    return state && Table() ? (kSchemeNegotiate | kSchemeNtlm) : 0;
}

int SspiProxyLogin::MaxTokenBytes(int scheme) { return PackageMaxToken(Table(), scheme); }

namespace {
// One step of the context: `input` (may be empty) in, the next token out as
// Base64 text. 1 more to come, 0 the last, -1 failure.
int Step(PSecurityFunctionTableA table, CredHandle* credentials, CtxtHandle* context, bool* haveContext,
         const char* target, const unsigned char* input, int inputLength, unsigned char* scratch, int scratchSize,
         char* token, int size) {
    SecBuffer in = {static_cast<unsigned long>(inputLength), SECBUFFER_TOKEN, const_cast<unsigned char*>(input)};
    SecBufferDesc inDesc = {SECBUFFER_VERSION, 1, &in};
    SecBuffer out = {static_cast<unsigned long>(scratchSize), SECBUFFER_TOKEN, scratch};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &out};
    unsigned long attributes = 0;
    TimeStamp expiry;
    SECURITY_STATUS status = table->InitializeSecurityContextA(
        credentials, *haveContext ? context : nullptr, const_cast<char*>(target), ISC_REQ_CONNECTION, 0,
        SECURITY_NATIVE_DREP, inputLength > 0 ? &inDesc : nullptr, 0, context, &outDesc, &attributes, &expiry);
    if (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK || status == SEC_I_COMPLETE_NEEDED ||
        status == SEC_I_COMPLETE_AND_CONTINUE)
        *haveContext = true;
    if (status == SEC_I_COMPLETE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE) {
        if (!table->CompleteAuthToken || table->CompleteAuthToken(context, &outDesc) != SEC_E_OK) return -1;
        status = status == SEC_I_COMPLETE_NEEDED ? SEC_E_OK : SEC_I_CONTINUE_NEEDED;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return -1;
    // A context that is complete without a last token has nothing to send:
    // this client has no use for that, the proxy wants a header.
    if (out.cbBuffer == 0) return -1;
    int n = IAD_Base64::encode(scratch, static_cast<int>(out.cbBuffer), token, size - 1, 0);
    if (n < 0) return -1;
    token[n] = 0;
    return status == SEC_I_CONTINUE_NEEDED ? 1 : 0;
}
}  // namespace

int SspiProxyLogin::Begin(int scheme, const char* host, const char* domain, const char* user, const char* password,
                          char* token, int size) {
    End();
    PSecurityFunctionTableA table = Table();
    if (!state || !table || size <= 0) return -1;
    const char* package = PackageName(scheme);
    if (!package) return -1;
    int most = PackageMaxToken(table, scheme);
    if (most <= 0) most = kFallbackToken;
    if (state->bufferSize < most) {
        std::free(state->buffer);
        state->buffer = static_cast<unsigned char*>(std::malloc(size_t(most)));
        state->bufferSize = state->buffer ? most : 0;
        if (!state->buffer) return -1;
    }
    SEC_WINNT_AUTH_IDENTITY_A identity = {};
    if (user) {
        identity.User = reinterpret_cast<unsigned char*>(const_cast<char*>(user));
        identity.UserLength = static_cast<unsigned long>(std::strlen(user));
        identity.Domain = reinterpret_cast<unsigned char*>(const_cast<char*>(domain ? domain : ""));
        identity.DomainLength = static_cast<unsigned long>(std::strlen(domain ? domain : ""));
        identity.Password = reinterpret_cast<unsigned char*>(const_cast<char*>(password ? password : ""));
        identity.PasswordLength = static_cast<unsigned long>(std::strlen(password ? password : ""));
        identity.Flags = SEC_WINNT_AUTH_IDENTITY_ANSI;
    }
    TimeStamp expiry;
    // Null identity: the logged-on user's own credentials.
    SECURITY_STATUS status = table->AcquireCredentialsHandleA(
        nullptr, const_cast<char*>(package), SECPKG_CRED_OUTBOUND, nullptr, user ? &identity : nullptr, nullptr,
        nullptr, &state->credentials, &expiry);
    if (status != SEC_E_OK) return -1;
    state->haveCredentials = true;
    std::snprintf(state->target, sizeof state->target, "HTTP/%s", host ? host : "");
    int r = Step(table, &state->credentials, &state->context, &state->haveContext, state->target, nullptr, 0,
                 state->buffer, state->bufferSize, token, size);
    if (r < 0) End();
    return r;
}

int SspiProxyLogin::Continue(const char* challenge, char* token, int size) {
    PSecurityFunctionTableA table = Table();
    if (!state || !table || !state->haveCredentials || !state->haveContext || size <= 0) return -1;
    // The challenge decoded: three bytes for every four characters.
    int length = static_cast<int>(std::strlen(challenge));
    int room = length / 4 * 3 + 3;
    unsigned char* input = static_cast<unsigned char*>(std::malloc(size_t(room)));
    if (!input) return -1;
    int n = IAD_Base64::decode(challenge, length, input, room, 0);
    int r = n > 0 ? Step(table, &state->credentials, &state->context, &state->haveContext, state->target, input, n,
                         state->buffer, state->bufferSize, token, size)
                  : -1;
    std::free(input);
    return r;
}

void SspiProxyLogin::End() {
    // A login that never began has nothing to end: the interface is not
    // loaded for it, which takes a while.
    if (!state || (!state->haveContext && !state->haveCredentials)) return;
    PSecurityFunctionTableA table = Table();
    if (!table) return;
    if (state->haveContext) table->DeleteSecurityContext(&state->context);
    if (state->haveCredentials) table->FreeCredentialsHandle(&state->credentials);
    state->haveContext = state->haveCredentials = false;
}
