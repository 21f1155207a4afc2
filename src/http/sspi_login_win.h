// Windows logins towards a proxy (Negotiate, NTLM) through the system's
// security support provider interface, loaded from secur32.dll at run time.
#pragma once
#include "http/proxy_auth.h"

class SspiProxyLogin : public ProxyLogin {
public:
    SspiProxyLogin();
    ~SspiProxyLogin() override;
    SspiProxyLogin(const SspiProxyLogin&) = delete;
    SspiProxyLogin& operator=(const SspiProxyLogin&) = delete;

    // Negotiate and NTLM when the interface is there, else nothing.
    int Schemes() override;
    // The package's cbMaxToken (QuerySecurityPackageInfo).
    int MaxTokenBytes(int scheme) override;
    int Begin(int scheme, const char* host, const char* domain, const char* user, const char* password, char* token,
              int size) override;
    int Continue(const char* challenge, char* token, int size) override;
    void End() override;

private:
    struct State;
    State* state;
};
