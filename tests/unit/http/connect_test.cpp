// Connection attempts that never complete: a listener whose backlog is full
// drops further connection requests, so each attempt ends in its time-out.
// Seven attempts, then failure, within a bound.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "http/http_client.h"
#include "http/http_connection.h"
#include "http/net.h"

TEST(Connect, SevenTimedOutAttemptsThenFailure) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
    socklen_t len = sizeof sa;
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len));
    ASSERT_EQ(0, ::listen(listener, 0));
    // Fill the backlog with connections nobody accepts.
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        fillers.push_back(s);
    }
    HttpTimeouts t;
    t.connectMs = 150;
    IAD_HTTPClient client(0, t);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(sa.sin_port)) + "/x";
    ASSERT_EQ(0, client.set_urls(url.c_str(), nullptr));
    NetAddress address;
    ASSERT_EQ(0, client.resolve_host_name(&address));
    HttpLog log(0);
    HttpWaits waits(t, log);
    HttpConnection connection(waits, log);
    auto start = std::chrono::steady_clock::now();
    int connected = connection.connect_host(address, "127.0.0.1");
    auto took = std::chrono::steady_clock::now() - start;
    connection.close();
    for (int f : fillers) ::close(f);
    ::close(listener);
    if (connected == 0) {
        GTEST_SKIP() << "this kernel accepted the connection despite the full backlog";
    }
    EXPECT_GE(took, std::chrono::milliseconds(7 * 150 - 50));
    EXPECT_LT(took, std::chrono::seconds(5));
}
