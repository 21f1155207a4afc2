// A login that stands in for the platform's Windows login in the client's
// tests: it records which scheme was begun with whose credentials and the
// challenges it was given, and answers with fixed tokens ("first", "last").
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "http/proxy_auth.h"

class ScriptedLogin : public ProxyLogin {
public:
    int Schemes() override { return schemes; }
    int Begin(int scheme, const char* host, const char* domain, const char* user, const char* password, char* token,
              int size) override {
        begun.push_back(scheme);
        who = user ? std::string(domain) + "\\" + user + ":" + password : "<logged-on>";
        if (scheme & refuse) return -1;
        std::snprintf(token, size_t(size), "%s", "Zmlyc3Q=");  // "first"
        return 1;
    }
    int Continue(const char* challenge, char* token, int size) override {
        challenges.push_back(challenge);
        std::snprintf(token, size_t(size), "%s", "bGFzdA==");  // "last"
        return 0;
    }
    void End() override { ++ended; }

    int schemes = kSchemeNtlm | kSchemeNegotiate;
    int refuse = 0;  // schemes whose Begin fails
    std::vector<int> begun;
    std::vector<std::string> challenges;
    std::string who;
    int ended = 0;
};
