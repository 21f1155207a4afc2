// Finds the HTTP proxy that the user's web browser is set to use.
#pragma once

// Fills both buffers (each ends with a terminator) and returns 1 when a
// browser proxy is configured, 0 when none is found. The address comes
// without a leading "http://"; the port is text.
int DiscoverBrowserProxy(char* address, int addressSize, char* port, int portSize);
