// Finds the HTTP proxy that the user's web browser is set to use, the
// machine-wide proxy of the system's HTTP service, and the names the system
// counts as intranet.
#pragma once

// Fills both buffers (each ends with a terminator) and returns 1 when a
// browser proxy is configured, 0 when none is found. The address comes
// without a leading "http://"; the port is text.
int DiscoverBrowserProxy(char* address, int addressSize, char* port, int portSize);

// The names the system counts as intranet, as a list for IsIntranetHost
// (download/proxy_rules.h): the proxy bypass list of the Internet settings
// ("ProxyOverride") and the sites mapped to the intranet zone (ZoneMap
// "Domains", of the user and of the machine). Cut to `size`.
void IntranetNames(char* out, int size);

// The machine-wide proxy of the system's HTTP service (what administrators
// set with "netsh winhttp set proxy"): 1 with its HTTP proxy in both
// buffers, 0 when it names none (direct access, no setting, or the service
// missing), buffers then empty. winhttp.dll comes from the system folder.
int DiscoverMachineProxy(char* address, int addressSize, char* port, int portSize);

// True when the process runs as the system account (LocalSystem), as
// management tools start it: that account's own browser settings are
// seldom what the machine's administrators set up.
bool RunsAsSystemAccount();
