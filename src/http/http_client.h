// HTTP/1.0 client: fetches one file with GET, directly or through a proxy,
// with Basic authentication and redirects, into a local file. Portable code
// over the small socket layer of net.h.
#pragma once

struct HttpTimeouts {
    int connectSeconds = 15;  // per connection attempt
    int ioSeconds = 40;       // per send or receive wait
    int retrySleepMs = 1000;  // after a receive that would block
};

class IAD_URL;

class IAD_HTTPClient {
public:
    explicit IAD_HTTPClient(int level, const HttpTimeouts& timeouts = HttpTimeouts());
    ~IAD_HTTPClient();
    IAD_HTTPClient(const IAD_HTTPClient&) = delete;
    IAD_HTTPClient& operator=(const IAD_HTTPClient&) = delete;

    // 0, or -1 when the target (or the given proxy) has no host.
    // An empty or null proxy text means a direct connection.
    int set_urls(const char* url, const char* proxy);
    // 0 when the body was received to the end and written; -1 otherwise.
    int GetFile(const char* path, const char* localPath);

    // The remaining operations of the client are declared in the
    // implementation's own header, for its tests.
};
