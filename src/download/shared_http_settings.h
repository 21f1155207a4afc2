// The HTTP settings that last reached a part list: reused by every later
// "http" component of the process and saved by completion. Portable code.
#pragma once

#include "base/http_settings.h"
#include "download/proxy_rules.h"

extern HttpSettings SharedHttpSettings;
// This run's proxy from the command line ("/proxy"), set once at start:
// the first arrangement every part list is tried with. Kind RunProxyUnset
// leaves the usual order alone.
struct RunProxySetting {
    RunProxyKind kind;
    char host[260];
    char port[8];
};
extern RunProxySetting RunProxy;

// 1 once any fetch worker has fetched a part list; never cleared.
extern int settingsConfirmed;
// The site (host, port and path) whose part list SharedHttpSettings reached
// last: its user and password serve only components of that host and port.
extern char SharedSettingsSite[260];

// A worker reached the part list of `site` with SharedHttpSettings.
void ConfirmSettings(const char* site);
// 1 when two site texts ("[http://][user@]host[:port][/path]") name the same
// host (without regard to case) and port.
int SameHttpSite(const char* a, const char* b);

// With settings, copies their six texts into SharedHttpSettings (at most 259
// characters each); with null, empties all six.
void CopySettings(const HttpSettings* from);
// Copies six texts from one record to another, cut to 259 characters.
void CopyHttpSettings(HttpSettings* to, const HttpSettings* from);
// Empties every text of the record.
void ClearHttpSettings(HttpSettings* settings);
