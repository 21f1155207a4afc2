// Text rules of proxy auto-configuration: the answer of a configuration
// script ("PROXY a:1; PROXY b:2; DIRECT", or the bare "a:1;b:2" list that
// the system's lookup gives back) taken apart into the proxies to try in
// order, and the address a script is asked about. Portable code.
#pragma once

// One way to reach a site named by a script: through a proxy, or direct.
struct PacEntry {
    int direct;            // 1: no proxy
    char address[260];     // host or dotted address, without "http://"
    char port[16];         // decimal text; empty when the entry names none
};

// Splits an answer at ";" into at most `capacity` entries, in order, and
// returns how many were written. An entry is "DIRECT", "PROXY host:port",
// "HTTP host:port" or a bare "host:port" (an "http://" before the host and a
// "http=" selector are dropped); a scheme that this client cannot speak
// ("SOCKS", "HTTPS", "ftp=") is skipped, and so is an entry that is empty
// or whose host does not fit. Repeats of the same entry are kept once.
int ParsePacAnswer(const char* answer, PacEntry* entries, int capacity);

// The address a script is asked about for a file of a site: the site's
// scheme, host, port (when not the scheme's own) and path as the URL parser
// reads them, then the remote path and the file name, without any user
// information. False (and "") when the site has no host or the address
// does not fit. The run log shows a site's files by the same address.
bool PacLookupUrl(const char* site, const char* remotePath, const char* fileName, char* out, int size);
