// Text rules of browser proxy discovery: the lines of a preferences file,
// the value of a proxy-server setting, and the path of the preferences file.
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
