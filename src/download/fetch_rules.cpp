// Window-free rules of the download run (see fetch_rules.h).
#include "download/fetch_rules.h"

#include <climits>
#include <cstring>

#include "http/http_url.h"
#include "http/secure_channel.h"
#include "resources/resource.h"

namespace {
// Appends `text` to out[*used], keeping room for the terminator.
void Append(char* out, int size, int* used, const char* text) {
    while (*text && *used < size - 1) out[(*used)++] = *text++;
    out[*used] = '\0';
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

void BuildRemotePath(const char* remoteDir, const char* fileName, int isFtp, char* out, int size) {
    if (size <= 0) return;
    int used = 0;
    out[0] = '\0';
    Append(out, size, &used, remoteDir ? remoteDir : "");
    if (remoteDir && remoteDir[0]) Append(out, size, &used, "/");
    if (isFtp) Append(out, size, &used, fileName ? fileName : "");
}

void FormatFileStatus(const char* format, const char* fileName, const char* siteName, char* out,
                      int size) {
    if (size <= 0) return;
    int used = 0;
    int strings = 0;
    out[0] = '\0';
    if (!fileName) fileName = "";
    if (!siteName) siteName = "";
    char one[2] = {0, 0};
    for (const char* p = format ? format : ""; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            Append(out, size, &used, strings++ == 0 ? fileName : (strings == 2 ? siteName : ""));
            ++p;
        } else if (p[0] == '%' && p[1] == '1') {
            Append(out, size, &used, fileName);
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            Append(out, size, &used, "%");
            ++p;
        } else {
            one[0] = *p;
            Append(out, size, &used, one);
        }
    }
}

int CertificateMessageId(int reason) {
    switch (reason) {
    case TlsNotTrusted: return IDS_CERT_NOT_TRUSTED;
    case TlsWrongName: return IDS_CERT_WRONG_NAME;
    case TlsExpired: return IDS_CERT_EXPIRED;
    default: return 0;
    }
}

void SiteHost(const char* site, char* out, int size) {
    if (size <= 0) return;
    out[0] = '\0';
    IAD_URL url(site ? site : "");
    int used = 0;
    Append(out, size, &used, url.host ? url.host : "");
}

int ShownKilobytes(long long bytes) {
    long long shown = (bytes + 511) / 1024;
    if (shown > INT_MAX) return INT_MAX;
    if (shown < INT_MIN) return INT_MIN;
    return static_cast<int>(shown);
}

int ProgressSteps(long long bytes, long long totalBytes) {
    int shift = 10;
    while (totalBytes >> shift > INT_MAX) ++shift;
    long long steps = bytes >> shift;
    if (steps > INT_MAX) return INT_MAX;
    if (steps < 0) return 0;
    return static_cast<int>(steps);
}

const char* StartShortcutArguments(int saveProxySettings) {
    return saveProxySettings ? " /NoIntervention /SaveProxySettings" : " /NoIntervention";
}

bool AppendSetupPathArgument(const char* setupPath, char* out, int size) {
    if (size <= 0 || !setupPath) return false;
    int used = static_cast<int>(std::strlen(out));
    const size_t needed = static_cast<size_t>(used) + std::strlen(" -inf \"\"") + std::strlen(setupPath);
    if (needed + 1 > static_cast<size_t>(size)) return false;
    Append(out, size, &used, " -inf \"");
    Append(out, size, &used, setupPath);
    Append(out, size, &used, "\"");
    return true;
}

int SameSiteName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (Lower(*a) != Lower(*b)) return 0;
        if (!*a) return 1;
    }
}

int PickInstallRow(const int* states, const int* installOrders, int count) {
    const int downloaded = 1;
    int best = -1;
    for (int row = 0; row < count; ++row) {
        if (states[row] != downloaded || installOrders[row] >= 10000) continue;
        if (best < 0 || installOrders[row] < installOrders[best]) best = row;
    }
    return best;
}

RunEnd DecideRunEnd(int installFailed, int successValue, int allLocal, int secondInstance,
                    int usesNetwork) {
    RunEnd end;
    if (!installFailed && (successValue == 1 || (allLocal && !secondInstance))) {
        end.result = 1003;
        end.deleteStateFile = usesNetwork ? 1 : 0;
    } else {
        end.result = 1009;
        end.deleteStateFile = 0;
    }
    return end;
}
