// Fetches one URL into a file with the HTTP client and prints the seconds
// GetFile took. Usage: http_get URL OUT [PROXY]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "http/http_client.h"
#include "http/net.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: http_get URL OUT [PROXY]\n");
        return 2;
    }
    if (NetStartup() != 0) return 1;
    const char* log = std::getenv("HTTP_GET_LOG");
    IAD_HTTPClient client(log ? std::atoi(log) : 0);
    if (client.set_urls(argv[1], argc > 3 ? argv[3] : nullptr) != 0) return 1;
    auto start = std::chrono::steady_clock::now();
    int r = client.GetFile(nullptr, argv[2]);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r != 0) {
        std::fprintf(stderr, "http_get: GetFile failed\n");
        return 1;
    }
    std::printf("%.3f\n", seconds);
    return 0;
}
