// A login that stands in for the platform's Windows login in the client's
// tests: it records which scheme was begun with whose credentials and the
// challenges it was given, and answers with fixed tokens ("first", "last"),
// or with a first token of `bigToken` Base64 characters, which like the
// platform's fails when the room it is given is too small.
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
        room = size;
        if (bigToken > 0) {
            if (bigToken >= size) return -1;
            std::string big(size_t(bigToken), 'A');
            std::snprintf(token, size_t(size), "%s", big.c_str());
            return 1;
        }
        std::snprintf(token, size_t(size), "%s", "Zmlyc3Q=");  // "first"
        return 1;
    }
    int MaxTokenBytes(int) override { return maxToken; }
    int Continue(const char* challenge, char* token, int size) override {
        challenges.push_back(challenge);
        std::snprintf(token, size_t(size), "%s", "bGFzdA==");  // "last"
        return 0;
    }
    void End() override { ++ended; }

    int schemes = kSchemeNtlm | kSchemeNegotiate;
    int refuse = 0;  // schemes whose Begin fails
    int maxToken = 0;  // what the package states, in bytes
    int bigToken = 0;  // characters of a large first token
    int room = 0;      // the size Begin was given
    std::vector<int> begun;
    std::vector<std::string> challenges;
    std::string who;
    int ended = 0;
};
