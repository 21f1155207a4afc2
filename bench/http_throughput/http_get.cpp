// Fetches one URL into a file with the HTTP client and prints the seconds
// GetFile took. Usage: http_get URL OUT [PROXY]
// With HTTP_GET_WARM_URL set, that URL is fetched first, untimed, by the
// same client: the one-time costs of a process (loading the system's root
// certificates on the first https fetch) stay out of the figure, as they
// are paid once per run of the program, not per file.
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
    const char* warm = std::getenv("HTTP_GET_WARM_URL");
    if (warm && *warm) {
        if (client.set_urls(warm, argc > 3 ? argv[3] : nullptr) != 0 || client.GetFile(nullptr, argv[2]) != 0) {
            std::fprintf(stderr, "http_get: warm-up fetch failed\n");
            return 1;
        }
    }
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
