// URL texts taken apart (scheme, user information, host, port and path) and
// built again from their parts, the resolution of a reference against the
// URL it was found at, and the rule of where a redirect may lead. The one
// parser of site texts and URLs: every address the program builds from a
// site text comes from here. Portable code.
#pragma once
#include <cstdint>

// The schemes a URL text may name; a text without one takes the scheme its
// reader assumes (http for sites and proxies, ftp for FTP sites).
enum UrlScheme { kUrlHttp, kUrlHttps, kUrlFtp };

// A URL text "[scheme://][user[:password]@]host[:port][/path]" taken apart.
// Absent texts are null; an empty user name or password is an empty text.
// Without a port, the scheme's own (80, 443, 21). User information and port
// are found only before the first "/"; "%XX" escapes in the user name and
// password are decoded. A port that is not a number from 1 to 65535 makes
// the URL refused (valid false), never a port wrapped into range.
class IAD_URL {
public:
    explicit IAD_URL(const char* text, UrlScheme assumed = kUrlHttp);
    ~IAD_URL();
    IAD_URL(const IAD_URL&) = delete;
    IAD_URL& operator=(const IAD_URL&) = delete;

    // Takes over copies of the other record's user name and password
    // (absent there, absent here).
    void copy_credentials(const IAD_URL& other);
    // Same scheme, same host (without regard to case) and same port.
    bool same_site(const IAD_URL& other) const;
    // The port of the URL's scheme when it names none.
    uint16_t default_port() const;
    // A user name that is not empty and a password (perhaps empty): what a
    // Basic login needs. A URL with an empty user sends no login at all.
    bool has_login() const { return user && user[0] && password; }

    char* user;
    char* password;
    char* host;  // null only when memory ran out
    char* path;  // from the first "/" after the host, query included
    uint16_t port;
    UrlScheme scheme;
    bool secure;  // "https://": fetched over TLS
    bool valid;   // false: a port out of range or not a number
};

// A redirect may go from http to https, never from https back to http (that
// would hand the rest of the fetch to anyone on the path), nor to any other
// scheme.
bool RedirectAllowed(const IAD_URL& from, const IAD_URL& to);

// The URL a reference found at `base` names, as servers write a Location:
// an absolute http or https URL, "//host/path" (base's scheme), "/path"
// (base's site), or a path relative to base's ("new", "../up", "?query"),
// with "." and ".." segments resolved and any "#fragment" dropped. The new
// record carries no credentials; null when memory runs out or the
// reference names another scheme.
IAD_URL* ResolveReference(const IAD_URL& base, const char* reference);

// "user:password@", the characters that would end either written "%XX", so
// that the parser gives back exactly these texts. False (and "") when it
// does not fit.
bool FormatUserInformation(char* out, int size, const char* user, const char* password);

// The text of a URL of `site` (its scheme, host and port; its path, or "/"
// when it has none, followed by `more` and `name`): "scheme://", the user
// information "user:password@" when `user` is given (escaped so that the
// parser gives back exactly these texts), the host, ":port" only when it is
// not the scheme's default. False (and "" in `out`) when the site has no
// host or a refused port, or the text does not fit `size`.
bool FormatUrl(char* out, int size, const IAD_URL& site, const char* user, const char* password, const char* more,
               const char* name);
