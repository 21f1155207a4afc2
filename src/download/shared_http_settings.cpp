// The process-wide HTTP settings record and its copy operations.
#include "download/shared_http_settings.h"

#include "download/line_file.h"
#include "http/http_url.h"

HttpSettings SharedHttpSettings = {};
RunProxySetting RunProxy = {};
int settingsConfirmed = 0;
char SharedSettingsSite[260] = "";

void ConfirmSettings(const char* site) {
    CopyTruncated(SharedSettingsSite, sizeof SharedSettingsSite, site ? site : "");
    settingsConfirmed = 1;
}

int SameHttpSite(const char* a, const char* b) {
    if (!a || !b || !a[0] || !b[0]) return 0;
    IAD_URL x(a), y(b);
    return x.same_site(y) ? 1 : 0;
}

void CopyHttpSettings(HttpSettings* to, const HttpSettings* from) {
    if (to == from) return;
    CopyTruncated(to->proxyAddress, sizeof to->proxyAddress, from->proxyAddress);
    CopyTruncated(to->proxyPort, sizeof to->proxyPort, from->proxyPort);
    CopyTruncated(to->proxyUser, sizeof to->proxyUser, from->proxyUser);
    CopyTruncated(to->proxyPassword, sizeof to->proxyPassword, from->proxyPassword);
    CopyTruncated(to->siteUser, sizeof to->siteUser, from->siteUser);
    CopyTruncated(to->sitePassword, sizeof to->sitePassword, from->sitePassword);
}

void ClearHttpSettings(HttpSettings* settings) {
    settings->proxyAddress[0] = 0;
    settings->proxyPort[0] = 0;
    settings->proxyUser[0] = 0;
    settings->proxyPassword[0] = 0;
    settings->siteUser[0] = 0;
    settings->sitePassword[0] = 0;
}

void CopySettings(const HttpSettings* from) {
    if (from) CopyHttpSettings(&SharedHttpSettings, from);
    else ClearHttpSettings(&SharedHttpSettings);
}
