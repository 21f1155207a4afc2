// Switch parsing and the relaunch command line.
#include "app/switches.h"

#include "base/text_copy.h"
#include "install/elevation.h"

#include <cstring>

namespace {
bool Has(const char* text, const char* what) { return std::strstr(text, what) != nullptr; }

}  // namespace

void ParseSwitches(const char* commandLine, Switches* out) {
    const char* whole = commandLine ? commandLine : "";
    *out = Switches();
    out->mode = RunSession;
    // The switches before the elevated copy's folder, in a copy of their own.
    char head[1024];
    const char* cl = whole;
    const char* kept = std::strstr(whole, kInstallKeptSwitch);
    if (kept) {
        out->installKept = 1;
        const char* rest = kept + std::strlen(kInstallKeptSwitch);
        if (*rest == ' ') ++rest;
        if (*rest && std::strncmp(rest, "-inf ", 5) != 0) out->keptFolder = rest;
        size_t n = static_cast<size_t>(kept - whole);
        if (n > sizeof head - 1) n = sizeof head - 1;
        std::memcpy(head, whole, n);
        head[n] = 0;
        cl = head;
    }
    out->run2 = Has(cl, "-run2");
    // "-inf " and its path may follow "/InstallKept"; a folder there holds none.
    const char* inf = std::strstr(whole, "-inf ");
    if (inf && !(out->keptFolder && inf > kept)) out->setupPath = inf + 5;
    if (Has(cl, "-is") || Has(cl, "/is")) out->deferPackageSetup = 1;
    if (Has(cl, "-SaveProxySettings") || Has(cl, "/SaveProxySettings")) out->saveProxySettings = 1;
    if (Has(cl, "-tray") || Has(cl, "/tray")) {
        out->mode = TrayWait;
        out->unattended = 1;
    }
    if (Has(cl, "-NoIntervention") || Has(cl, "/NoIntervention")) {
        out->mode = RunSession;
        out->resumed = 1;
        out->unattended = 1;
    }
    if (Has(cl, "-AskForRestart") || Has(cl, "/AskForRestart")) {
        out->mode = RunSession;
        out->askForRestart = 1;
    }
}

void BuildRelaunchArguments(int allowIntervention, int restartPending, int saveProxySettings,
                            char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    if (allowIntervention) {
        AppendTruncated(out, size, " /tray");
        if (restartPending) AppendTruncated(out, size, " /AskForRestart");
    } else {
        AppendTruncated(out, size, " /NoIntervention");
    }
    if (saveProxySettings) AppendTruncated(out, size, " /SaveProxySettings");
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
