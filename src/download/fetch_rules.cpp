// Window-free rules of the download run (see fetch_rules.h).
#include "download/fetch_rules.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
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
}  // namespace

void BuildRemotePath(const char* remoteDir, const char* fileName, int isFtp, char* out, int size) {
    if (size <= 0) return;
    int used = 0;
    out[0] = '\0';
    Append(out, size, &used, remoteDir ? remoteDir : "");
    if (remoteDir && remoteDir[0]) Append(out, size, &used, "/");
    if (isFtp) Append(out, size, &used, fileName ? fileName : "");
}

int CertificateMessageId(int reason) {
    switch (reason) {
    case TlsNotTrusted: return IDS_CERT_NOT_TRUSTED;
    case TlsWrongName: return IDS_CERT_WRONG_NAME;
    case TlsExpired: return IDS_CERT_EXPIRED;
    case TlsRevoked: return IDS_CERT_REVOKED;
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

PinRead ReadPin(const char* numbered, const char* plain, int number, unsigned char digest[kSha256Size]) {
    const char* value = numbered && numbered[0] ? numbered : number == 1 && plain ? plain : "";
    if (!value[0]) return PinNone;
    unsigned char parsed[kSha256Size];
    if (!ParseSha256Hex(value, parsed)) return PinMalformed;
    std::memcpy(digest, parsed, kSha256Size);
    return PinGiven;
}

bool SameDigest(const unsigned char a[kSha256Size], const unsigned char b[kSha256Size]) {
    unsigned char differ = 0;
    for (int i = 0; i < kSha256Size; ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

int TriesFromSetting(int value) {
    if (value == 0) return 0;
    if (value < 1) return 1;
    return value > kMostTries ? kMostTries : value;
}

int ConnectionsFromSetting(int value) {
    if (value == 0) return kDefaultConnections;
    if (value < 1) return 1;
    return value > kMostConnections ? kMostConnections : value;
}

PartSlots PlanPartSlots(int connections, int partBytes, int parts, long long memory) {
    int wanted = connections < 1 ? 1 : connections > kMostConnections ? kMostConnections : connections;
    if (parts > 0 && wanted > parts) wanted = parts;
    const int window = 3 * wanted;
    // Enough parts waiting that a connection rarely waits for the ones
    // ahead of it, within the memory they may take.
    const long long fit = partBytes > 0 ? memory / partBytes : window;
    if (fit < wanted + 1) return PartSlots{wanted, window, true};
    return PartSlots{wanted, fit < window ? static_cast<int>(fit) : window, false};
}

bool AnotherSiteMayHelp(int error) {
    // The disk is the same whichever site the bytes come from.
    const int kDiskFull = 5;
    return error != 0 && error != kDiskFull;
}

int NextSiteNumber(int current, const char* nextSite) {
    if (current < 1 || current >= kMostSites || !nextSite) return 0;
    for (const char* c = nextSite; *c; ++c)
        if (*c != ' ' && *c != '\t') return current + 1;
    return 0;
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

bool PartListDoubt::TryFailed(bool cameWholeButDisagrees) {
    // Any other failure (a cut body, a refused request) says nothing
    // about the list.
    if (!cameWholeButDisagrees) {
        inRow = 0;
        return false;
    }
    ++inRow;
    return inRow >= kSumFailuresBeforeListAgain && fetches < kMostPartListFetchesAgain;
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
