// Where a redirect leads and what goes with it.
#include "http/http_redirect.h"

#include <new>

#include "http/http_connection.h"
#include "http/http_message.h"
#include "http/http_url.h"

bool IsFollowedRedirect(int status) { return status == 301 || status == 302; }

IAD_URL* RedirectTarget(const IAD_HTTPHeader& answer, const IAD_URL& current, HttpLog& log) {
    if (!answer.location[0]) {
        log.Log(1, "recv_file", "Status-Code = %d but no Location: field\n", answer.status);
        return nullptr;
    }
    IAD_URL* next = new (std::nothrow) IAD_URL(answer.location);
    if (!next) return nullptr;
    if (!RedirectAllowed(current, *next)) {
        log.Log(1, "recv_file", "Refused redirect from https to %s\n", answer.location);
        delete next;
        return nullptr;
    }
    // The user name and password go only to the host (and port) they
    // were given for; another site gets none, nor any of the Location's.
    if (current.same_site(*next)) {
        next->copy_credentials(current);
    } else {
        IAD_URL none(nullptr);
        next->copy_credentials(none);
    }
    return next;
}
