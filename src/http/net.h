// The few socket calls the HTTP client needs, behind one small interface:
// Windows Sockets on Windows (net_win.cpp), BSD sockets elsewhere
// (net_posix.cpp). Addresses are IPv4 only; every wait is bounded.
#pragma once
#include <cstdint>

typedef intptr_t NetSocket;
const NetSocket kNoSocket = -1;

struct NetAddress {
    uint32_t address;  // network byte order
    uint16_t port;     // network byte order
    int family;        // AF_INET of the platform
};

// Starts the socket layer for code that has not done so (tests, tools);
// the program starts it itself. 0 or -1.
int NetStartup();

// Error number of the last failed socket call on this thread.
int NetLastError();
// A short text for an error number (socket layer's or the C library's).
const char* NetErrorText(int error, char* buffer, int size);
bool NetWouldBlock(int error);
bool NetInProgress(int error);

NetSocket NetTcpSocket();                // kNoSocket on failure
int NetSetNonBlocking(NetSocket s);      // 0 or -1
int NetConnect(NetSocket s, const NetAddress& to);  // 0, or -1 (see NetLastError)
void NetClose(NetSocket s);

// Waits for the socket: 1 ready, 0 time-out, -1 the wait failed.
int NetWaitReadable(NetSocket s, int milliseconds);
int NetWaitWritable(NetSocket s, int milliseconds);
// Waits for a pending connect to finish: 1 connected, 0 time-out, -1 the
// wait failed, -2 the connection failed (refused, unreachable); *error
// receives the error number of the last two.
int NetWaitConnected(NetSocket s, int milliseconds, int* error);

int NetSend(NetSocket s, const char* bytes, int count);  // as send(), flags 0
int NetRecv(NetSocket s, char* buffer, int size);        // as recv(), flags 0

// A dotted IPv4 address; 0 and *address set, or -1 when it is not one.
int NetParseDotted(const char* text, uint32_t* address);
// A name lookup: 0 with the first IPv4 address, or -1 with *error set.
int NetLookup(const char* host, uint32_t* address, int* error);
int NetFamilyInet();
uint16_t NetPort(unsigned port);  // to network byte order

void NetSleepMs(int milliseconds);
