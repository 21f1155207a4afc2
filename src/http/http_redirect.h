// Redirects as the HTTP client follows them: which answers are redirects,
// where their Location leads from the current URL, and which credentials
// may go there. Portable code.
#pragma once

class HttpLog;
class IAD_URL;
struct IAD_HTTPHeader;

// Redirects followed in one fetch; the next one fails it.
const int kMostRedirects = 6;

// Whether an answer with this status is a redirect to follow.
bool IsFollowedRedirect(int status);

// The URL the redirect `answer` leads to from `current`, carrying the
// credentials that may go there: a new record, or null (the reason
// logged) when the answer names no place or one the client must not go to.
IAD_URL* RedirectTarget(const IAD_HTTPHeader& answer, const IAD_URL& current, HttpLog& log);
