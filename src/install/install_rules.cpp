// Window-free decisions of the install (see install_rules.h).
#include "install/install_rules.h"

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
