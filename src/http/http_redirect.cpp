// Where a redirect leads and what goes with it.
#include "http/http_redirect.h"

#include "base/ascii_case.h"
#include "http/http_connection.h"
#include "http/http_message.h"
#include "http/http_url.h"

bool IsFollowedRedirect(int status) {
    // A GET stays a GET whichever of them it is: there is no body to keep.
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

IAD_URL* RedirectTarget(const IAD_HTTPHeader& answer, const IAD_URL& current, HttpLog& log) {
    if (!answer.location[0]) {
        log.Log(1, "recv_file", "Status-Code = %d but no Location: field\n", answer.status);
        return nullptr;
    }
    IAD_URL* next = ResolveReference(current, answer.location);
    if (!next || !next->valid || !next->host[0] || !RedirectAllowed(current, *next)) {
        log.Log(1, "recv_file", "Refused redirect from %s to %s\n", current.secure ? "https" : "http",
                answer.location);
        delete next;
        return nullptr;
    }
    // The user name and password go only to the site they were given for,
    // and to the same host when only the scheme went up to https; another
    // site gets none, nor any the Location itself carries.
    bool upgrade = !current.secure && next->secure && current.host && EqualNoCase(current.host, next->host);
    if (current.same_site(*next) || upgrade) {
        next->copy_credentials(current);
    } else {
        IAD_URL none(nullptr);
        next->copy_credentials(none);
    }
    return next;
}
