// The install's route and the elevated copy's command line.
#include "install/elevation.h"

#include <cstring>

#include "base/text_copy.h"
#include "install/kept_list.h"

const char kInstallKeptSwitch[] = "/InstallKept";

int ChooseInstallRoute(int systemHasElevation, int processElevated, int installKept) {
    if (!systemHasElevation || processElevated || installKept) return InstallHere;
    return InstallInElevatedCopy;
}

int BuildInstallKeptArguments(const char* folder, const char* setupPath, int secondInstance,
                              int deferPackageSetup, int saveProxySettings, const char* keptSum,
                              char* out, int size, const char* carried) {
    if (size <= 0) return 0;
    out[0] = 0;
    if (secondInstance) AppendTruncated(out, size, " -run2");
    if (deferPackageSetup) AppendTruncated(out, size, " /is");
    if (saveProxySettings) AppendTruncated(out, size, " /SaveProxySettings");
    if (carried && *carried) {
        if (std::strlen(out) + std::strlen(carried) + 1 > static_cast<size_t>(size)) {
            out[0] = 0;
            return 0;
        }
        AppendTruncated(out, size, carried);
    }
    AppendTruncated(out, size, " ");
    AppendTruncated(out, size, kKeptSumSwitch);
    AppendTruncated(out, size, keptSum ? keptSum : "");
    AppendTruncated(out, size, " ");
    AppendTruncated(out, size, kInstallKeptSwitch);
    AppendTruncated(out, size, setupPath ? " -inf " : " ");
    const char* value = setupPath ? setupPath : (folder ? folder : "");
    const size_t used = std::strlen(out);
    if (used + std::strlen(value) + 1 > static_cast<size_t>(size)) {
        out[0] = 0;
        return 0;
    }
    AppendTruncated(out, size, value);
    return 1;
}

int BuildCopyPath(const char* folder, const char* moduleFileName, char* out, int size) {
    if (size <= 0) return 0;
    out[0] = 0;
    const char* name = std::strrchr(moduleFileName, '\\');
    if (!name || std::strlen(folder) + std::strlen(name) + 1 > static_cast<size_t>(size)) return 0;
    AppendTruncated(out, size, folder);
    AppendTruncated(out, size, name);
    return 1;
}
