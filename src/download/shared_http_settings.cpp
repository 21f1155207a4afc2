// The process-wide HTTP settings record and its copy operations.
#include "download/shared_http_settings.h"

#include "download/line_file.h"

HttpSettings SharedHttpSettings = {};
int settingsConfirmed = 0;

void CopyHttpSettings(HttpSettings* to, const HttpSettings* from) {
    if (to == from) return;
    CopyText(to->proxyAddress, sizeof to->proxyAddress, from->proxyAddress);
    CopyText(to->proxyPort, sizeof to->proxyPort, from->proxyPort);
    CopyText(to->proxyUser, sizeof to->proxyUser, from->proxyUser);
    CopyText(to->proxyPassword, sizeof to->proxyPassword, from->proxyPassword);
    CopyText(to->siteUser, sizeof to->siteUser, from->siteUser);
    CopyText(to->sitePassword, sizeof to->sitePassword, from->sitePassword);
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
