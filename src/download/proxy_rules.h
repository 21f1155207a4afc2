// Text rules of browser proxy discovery: the lines of a preferences file,
// the value of a proxy-server setting, the path of the preferences file,
// and which proxies may get the logged-on user's own Windows login.
// Portable code; the registry and file access stay in the Windows binding.
#pragma once

// Removes "http://" where the text begins with it.
void StripHttpPrefix(char* text);

// Looks at one line of a preferences file. An address line fills `address`
// and sets *addressFound; a port line fills `port`; any other line changes
// nothing. Buffers get a terminator and are cut to their sizes.
void ReadPrefsLine(const char* line, char* address, int addressSize, int* addressFound,
                   char* port, int portSize);

// A proxy-server setting may list a proxy per protocol,
// "http=host:port;https=host:port;ftp=...": the "http=" entry (name in any
// case, blanks around entries ignored) replaces the value. False when the
// value is such a list without an "http=" entry: there is no HTTP proxy.
// A plain "host:port" stays as it is.
bool PickHttpProxyEntry(char* value);

// Splits "host:port" at its last colon: the text after it becomes the port,
// the address is cut at it, and a leading "http://" is removed. A value
// without a colon is all address and leaves the port empty.
void SplitProxyServer(char* address, char* port, int portSize);

// The preferences file of a profile: the install directory up to and
// including its last backslash, then "Users\<profile>\prefs.js". False when
// the directory has no backslash or the path does not fit.
bool PrefsFilePath(const char* installDirectory, const char* profile, char* out, int size);

// Where a proxy came from. The component, the setup description, the
// browser settings, a script that either of them names, and the user
// configured it; automatic detection (WPAD) only found it on the network,
// where anyone who answers the detection can name a proxy of their own.
enum ProxyOrigin { ProxyConfigured = 0, ProxyDiscovered = 1 };

// True when `host` is an intranet name: a single label ("proxy", not an
// address like "10.1.2.3" nor a bare number), or a name that matches an
// entry of `intranetNames`, a list separated by ";" (blanks around entries
// ignored) of host names and patterns where "*" stands for any run of
// characters, compared without regard to case; "<local>" stands for every
// single label. A host that is no name (other characters than letters,
// digits, "-", "_" and ".") is never intranet. The list is what the system
// names as intranet: the proxy bypass list and the intranet zone's sites.
bool IsIntranetHost(const char* host, const char* intranetNames);

// Whether a proxy without a proxy user may get the logged-on user's own
// Windows login: a configured one may, a discovered one only when its host
// is an intranet name.
bool MayOfferOwnLogin(ProxyOrigin origin, const char* host, const char* intranetNames);

// What "/proxy VALUE" on the command line asks of a run.
enum RunProxyKind {
    RunProxyUnset = 0,   // no "/proxy": the usual order alone
    RunProxyDirect = 1,  // "/proxy direct" (any case): first a direct connection
    RunProxyNamed = 2,   // "/proxy HOST:PORT": first that proxy, without credentials
    RunProxyInvalid = 3, // anything else: ignored, and the log says so
};
// Reads the value of "/proxy": "direct", or HOST:PORT where HOST is a host
// name or IPv4 address (letters, digits, "-", "_", ".") or an IPv6 address
// in brackets, and PORT a number from 1 to 65535 without sign. Fills host
// and port (port as the digits written, without leading zeros) for
// RunProxyNamed; empties both otherwise. Nothing is cut: a value that does
// not fit is RunProxyInvalid, since a shortened host names another machine.
RunProxyKind ParseRunProxy(const char* value, char* host, int hostSize, char* port, int portSize);

// The HTTP proxy of a proxy list as the system's HTTP service keeps it
// (its machine-wide setting): entries separated by ";" or blanks, each
// "host[:port]" or "scheme=[http://]host[:port]". The first "http=" entry,
// or else the first entry without a scheme name, is taken; "http://" before
// the host is dropped and an entry of another scheme ("https://host")
// skipped. A missing port means 80. False when no entry serves http, or
// the one that does has no valid host or port.
bool PickMachineProxy(const char* list, char* host, int hostSize, char* port, int portSize);
