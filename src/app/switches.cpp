// Switch parsing and the relaunch command line.
#include "app/switches.h"

#include "base/text_copy.h"

#include <cstring>

namespace {
bool Has(const char* text, const char* what) { return std::strstr(text, what) != nullptr; }

}  // namespace

void ParseSwitches(const char* commandLine, Switches* out) {
    const char* cl = commandLine ? commandLine : "";
    *out = Switches();
    out->mode = RunSession;
    out->run2 = Has(cl, "-run2");
    if (const char* inf = std::strstr(cl, "-inf ")) out->setupPath = inf + 5;
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
