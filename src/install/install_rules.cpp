// Window-free decisions of the install (see install_rules.h).
#include "install/install_rules.h"

#include "base/ascii_case.h"

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
                    int usesNetwork, int exitCodesReported) {
    RunEnd end;
    if (!installFailed && (successValue == 1 || exitCodesReported || (allLocal && !secondInstance))) {
        end.result = 1003;
        end.deleteStateFile = usesNetwork ? 1 : 0;
    } else {
        end.result = 1009;
        end.deleteStateFile = 0;
    }
    return end;
}

StateFileWriting ChooseStateFileWriting(bool exists, TextEncoding encoding, bool valueIsAscii,
                                        bool textsUtf8) {
    if (!textsUtf8) return WriteStateAsItIs;
    if (!exists) return WriteStateNewUtf16;
    switch (encoding) {
        case EncodingUtf16Le:
        case EncodingUtf16Be:
        case EncodingUtf8Bom:
            return WriteStateAsItIs;
        case EncodingAscii:
            return valueIsAscii ? WriteStateAsItIs : WriteStateKeepingLegacy;
        default:
            // Without a mark its readers take it for the legacy code page,
            // whatever bytes it holds.
            return WriteStateKeepingLegacy;
    }
}

int ResultSourceOf(const char* value) {
    if (!value || !*value || EqualNoCase(value, "statefile")) return ResultFromStateFile;
    if (EqualNoCase(value, "exitcode")) return ResultFromExitCode;
    return ResultFromUnknown;
}

namespace {
const unsigned long kRestartNeeded = 3010;     // ERROR_SUCCESS_REBOOT_REQUIRED
const unsigned long kRestartInitiated = 1641;  // ERROR_SUCCESS_REBOOT_INITIATED
}  // namespace

int JudgeExitCode(unsigned long code) {
    if (code == 0) return ExitCodeSuccess;
    if (code == kRestartNeeded || code == kRestartInitiated) return ExitCodeRestartNeeded;
    return ExitCodeFailure;
}

const char* ExitCodeMeaning(unsigned long code) {
    if (code == kRestartNeeded) return "success, a restart is needed";
    if (code == kRestartInitiated) return "success, the program has started a restart";
    return JudgeExitCode(code) == ExitCodeSuccess ? "success" : "a failure";
}
