// The table of setup-description keys, and how a key written in a section is
// found in it.
#include "setup/setup_keys.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"

const char kDefsSection[] = "defs";

const SetupKey kSetupKeys[kSetupKeyCount] = {
    {"allowintervention", KeyInDefs, KindFlag, 0},
    {"SaveProxySettings", KeyInDefs, KindFlag, 0},
    {"ProxyAutoConfig", KeyInDefs, KindText, 0},
    {"MaxConnections", KeyInDefs, KindInteger, 0},
    {"strings", KeyInDefs, KindList, 0},
    {"components", KeyInDefs, KindList, 0},
    {"name", KeyInComponent, KindText, 0},
    {"enable", KeyInComponent, KindInteger, 0},
    {"size", KeyInComponent, KindInteger, 0},
    {"DisplayOrder", KeyInComponent, KindInteger, 0},
    {"InstallOrder", KeyInComponent, KindInteger, 0},
    {"Protocol", KeyInComponent, KindText, 0},
    {"SourceDir", KeyInComponent, KindText, 0},
    {"NoDownloadIfObjectsExist", KeyInComponent, KindList, 0},
    {"NoDownloadIfFilesExist", KeyInComponent, KindList, 0},
    {"files", KeyInComponent, KindList, 0},
    {"site", KeyInComponent, KindText, 0},
    {"proxy", KeyInComponent, KindText, 0},
    {"port", KeyInComponent, KindText, 0},
    {"user", KeyInComponent, KindText, 0},
    {"password", KeyInComponent, KindPassword, 0},
    {"proxyuser", KeyInComponent, KindText, 0},
    {"proxypassword", KeyInComponent, KindPassword, 0},
    {"count", KeyInComponent, KindInteger, 0},
    {"extract", KeyInComponent, KindActionLine, 1},
    {"registry", KeyInComponent, KindRegistry, 1},
    {"install", KeyInComponent, KindActionLine, 1},
    {"sha256", KeyInComponent, KindFingerprint, 0},
    {"sha256_", KeyInComponent, KindFingerprint, 1},
    {"site", KeyInComponent, KindText, 2},
    {"user", KeyInComponent, KindText, 2},
    {"password", KeyInComponent, KindPassword, 2},
    {"tries", KeyInComponent, KindInteger, 0},
    {"resultFrom", KeyInComponent, KindText, 0},
};

namespace {

// A number as "%d" writes a positive one; -1 for anything else.
int KeyNumber(const char* text) {
    if (*text < '1' || *text > '9') return -1;
    int value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9') return -1;
        value = value * 10 + (*text - '0');
        if (value > kMaxKeyNumber) return -1;
    }
    return value;
}

// Letters to change, add or remove to turn a into b, ignoring case; long
// texts are compared by their first 63 characters.
int EditDistance(const char* a, const char* b) {
    const int kMax = 63;
    int la = static_cast<int>(std::strlen(a)), lb = static_cast<int>(std::strlen(b));
    if (la > kMax) la = kMax;
    if (lb > kMax) lb = kMax;
    int row[kMax + 1];
    for (int j = 0; j <= lb; ++j) row[j] = j;
    for (int i = 1; i <= la; ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= lb; ++j) {
            const int above = row[j];
            const int change = AsciiLower(a[i - 1]) != AsciiLower(b[j - 1]);
            int best = diagonal + change;
            if (above + 1 < best) best = above + 1;
            if (row[j - 1] + 1 < best) best = row[j - 1] + 1;
            row[j] = best;
            diagonal = above;
        }
    }
    return row[lb];
}

}  // namespace

void NumberedKeyName(SetupKeyId id, int number, char* out, int size) {
    if (!out || size <= 0) return;
    std::snprintf(out, static_cast<size_t>(size), "%s%d", kSetupKeys[id].name, number);
}

int FindSetupKey(SetupKeyPlace place, const char* key, int* number) {
    if (number) *number = 0;
    if (!key) return -1;
    for (int id = 0; id < kSetupKeyCount; ++id) {
        const SetupKey& k = kSetupKeys[id];
        if (k.place != place) continue;
        if (!k.firstNumber) {
            if (EqualNoCase(key, k.name)) return id;
            continue;
        }
        if (!StartsNoCase(key, k.name)) continue;
        const int n = KeyNumber(key + std::strlen(k.name));
        if (n < k.firstNumber) continue;
        if (number) *number = n;
        return id;
    }
    return -1;
}

void NearestSetupKey(SetupKeyPlace place, const char* key, char* out, int size) {
    if (!out || size <= 0) return;
    out[0] = '\0';
    int best = -1;
    for (int id = 0; id < kSetupKeyCount; ++id) {
        const SetupKey& k = kSetupKeys[id];
        if (k.place != place) continue;
        char name[64];
        if (k.firstNumber)
            NumberedKeyName(static_cast<SetupKeyId>(id), k.firstNumber, name, sizeof name);
        else
            std::snprintf(name, sizeof name, "%s", k.name);
        const int distance = EditDistance(key ? key : "", name);
        if (best < 0 || distance < best) {
            best = distance;
            std::snprintf(out, static_cast<size_t>(size), "%s", name);
        }
    }
}
