// Decisions of the install that need no window: which component installs
// next and how a run that reached the install ends. Portable: no Windows
// header.
#pragma once

// Component states and install orders of the list rows, in row order:
// the row to install next (state "downloaded", the smallest install order
// below 10000, the earlier row on equal orders), or -1.
int PickInstallRow(const int* states, const int* installOrders, int count);

// How a run that reached the install ends.
struct RunEnd {
    int result;           // 1003: finished, 1009: keep the files
    int deleteStateFile;  // the state file has served its run
};
// A failed install action ends the run keeping its files, whatever the
// client's setup wrote: the next start installs again from them.
RunEnd DecideRunEnd(int installFailed, int successValue, int allLocal, int secondInstance,
                    int usesNetwork);
