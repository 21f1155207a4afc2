// Switch parsing and the relaunch command line.
#include "app/switches.h"

#include "base/text_copy.h"
#include "download/fetch_rules.h"
#include "install/elevation.h"
#include "install/kept_list.h"

#include <cctype>
#include <cstring>

namespace {
// Whether `what` occurs within the first `length` characters of `text`.
bool HasWithin(const char* text, size_t length, const char* what) {
    size_t n = std::strlen(what);
    for (size_t i = 0; i + n <= length; ++i)
        if (std::memcmp(text + i, what, n) == 0) return true;
    return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The switches' part of the command line: [0, length) without the value of
// "/proxy", [valueBegin, valueEnd), where a host name could hold any switch.
struct SwitchText {
    const char* text;
    size_t length;
    size_t valueBegin;
    size_t valueEnd;
    bool Has(const char* what) const {
        return HasWithin(text, valueBegin, what) || HasWithin(text + valueEnd, length - valueEnd, what);
    }
};

// Finds "/proxy VALUE" or "-proxy VALUE" within the first `length`
// characters, fills the switches and marks where the value lies.
void FindProxySwitch(const char* cl, size_t length, Switches* out, SwitchText* text) {
    text->valueBegin = text->valueEnd = length;
    for (size_t i = 0; i + 7 <= length; ++i) {
        if ((cl[i] != '/' && cl[i] != '-') || std::memcmp(cl + i + 1, "proxy", 5) != 0 || !IsBlank(cl[i + 6]))
            continue;
        size_t begin = i + 7;
        while (begin < length && IsBlank(cl[begin])) ++begin;
        size_t end = begin;
        while (end < length && !IsBlank(cl[end])) ++end;
        out->proxyGiven = 1;
        if (end - begin < sizeof out->proxy) {
            std::memcpy(out->proxy, cl + begin, end - begin);
            out->proxy[end - begin] = 0;
        }
        text->valueBegin = begin;
        text->valueEnd = end;
        return;
    }
}
}  // namespace

void ParseSwitches(const char* commandLine, Switches* out) {
    const char* whole = commandLine ? commandLine : "";
    *out = Switches();
    out->mode = RunSession;
    // "-inf " takes the rest of the line as the setup path, and so does a
    // folder after "/InstallKept": the switches are looked for only before
    // whichever comes first.
    const char* cl = whole;
    const char* inf = std::strstr(whole, "-inf ");
    const char* kept = std::strstr(whole, kInstallKeptSwitch);
    if (kept && inf && inf < kept) kept = nullptr;  // part of the setup path
    if (kept) {
        out->installKept = 1;
        const char* rest = kept + std::strlen(kInstallKeptSwitch);
        if (*rest == ' ') ++rest;
        if (*rest && std::strncmp(rest, "-inf ", 5) != 0) out->keptFolder = rest;
        if (out->keptFolder) inf = nullptr;  // "-inf " inside the folder's path
    }
    if (inf) out->setupPath = inf + 5;
    const char* end = kept ? kept : inf;
    const size_t n = end ? static_cast<size_t>(end - cl) : std::strlen(cl);
    SwitchText t = {cl, n, n, n};
    FindProxySwitch(cl, n, out, &t);
    out->run2 = t.Has("-run2");
    if (t.Has("-is") || t.Has("/is")) out->deferPackageSetup = 1;
    if (t.Has("-SaveProxySettings") || t.Has("/SaveProxySettings")) out->saveProxySettings = 1;
    if (t.Has("-tray") || t.Has("/tray")) {
        out->mode = TrayWait;
        out->unattended = 1;
    }
    if (t.Has("-NoIntervention") || t.Has("/NoIntervention")) {
        out->mode = RunSession;
        out->resumed = 1;
        out->unattended = 1;
    }
    if (t.Has("-AskForRestart") || t.Has("/AskForRestart")) {
        out->mode = RunSession;
        out->askForRestart = 1;
    }
    if (t.Has("-quiet") || t.Has("/quiet")) out->quiet = 1;
    // Only the elevated copy's own: before its switch, 64 hex digits.
    const char* sum = kept ? std::strstr(cl, kKeptSumSwitch) : nullptr;
    if (sum && sum < kept) {
        sum += std::strlen(kKeptSumSwitch);
        size_t digits = 0;
        while (digits < 64 && std::isxdigit(static_cast<unsigned char>(sum[digits]))) ++digits;
        if (digits == 64 && (sum[64] == ' ' || sum[64] == '\0')) {
            std::memcpy(out->keptSum, sum, 64);
            out->keptSum[64] = '\0';
        }
    }
}

void CleanSetupPath(const char* raw, char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    if (!raw) return;
    const char* begin = raw;
    const char* end = raw + std::strlen(raw);
    // Blanks, then quotes, then blanks inside the quotes: a file name never
    // holds a double quote, nor begins or ends with a blank.
    for (int pass = 0; pass < 2; ++pass) {
        while (begin < end && IsBlank(*begin)) ++begin;
        while (end > begin && IsBlank(end[-1])) --end;
        if (pass == 0) {
            if (begin < end && *begin == '"') ++begin;
            if (end > begin && end[-1] == '"') --end;
        }
    }
    size_t n = static_cast<size_t>(end - begin);
    if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
    std::memcpy(out, begin, n);
    out[n] = 0;
}

bool BuildRelaunchArguments(int allowIntervention, int restartPending, int saveProxySettings,
                            const char* setupPath, char* out, int size, const char* carried) {
    if (size <= 0) return false;
    out[0] = 0;
    if (allowIntervention) {
        AppendTruncated(out, size, " /tray");
        if (restartPending) AppendTruncated(out, size, " /AskForRestart");
    } else {
        AppendTruncated(out, size, " /NoIntervention");
    }
    if (saveProxySettings) AppendTruncated(out, size, " /SaveProxySettings");
    if (carried && *carried) {
        // A proxy cut short would name another host.
        if (std::strlen(out) + std::strlen(carried) + 1 > static_cast<size_t>(size)) return false;
        AppendTruncated(out, size, carried);
    }
    return !setupPath || AppendSetupPathArgument(setupPath, out, size);
}

void BuildCarriedSwitches(int quiet, const char* proxy, char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    if (quiet) AppendTruncated(out, size, " /quiet");
    // A proxy that does not fit whole is left out: cut short, it would name
    // another host.
    if (proxy && *proxy && std::strlen(out) + 8 + std::strlen(proxy) < static_cast<size_t>(size)) {
        AppendTruncated(out, size, " /proxy ");
        AppendTruncated(out, size, proxy);
    }
}

void BuildRelaunchProgram(const char* folder, const char* moduleFileName, char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    AppendTruncated(out, size, folder);
    const char* name = std::strrchr(moduleFileName, '\\');
    AppendTruncated(out, size, name ? name : moduleFileName);
}

void SetupFolderOf(const char* setupPath, char* out, int size, bool (*isLeadByte)(unsigned char)) {
    if (size <= 0) return;
    out[0] = 0;
    const char* cut = nullptr;
    for (const char* p = setupPath; *p;) {
        if (isLeadByte && isLeadByte(static_cast<unsigned char>(*p)) && p[1]) {
            p += 2;
            continue;
        }
        if (*p == '\\' || *p == ':') cut = p;
        ++p;
    }
    if (!cut) {
        AppendTruncated(out, size, ".");
        return;
    }
    size_t n = static_cast<size_t>(cut - setupPath);
    if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
    std::memcpy(out, setupPath, n);
    out[n] = 0;
}
