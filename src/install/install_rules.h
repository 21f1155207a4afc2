// Decisions of the install that need no window: which component installs
// next and how a run that reached the install ends. Portable: no Windows
// header.
#pragma once

#include "base/text_encoding.h"

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
// client's setup wrote: the next start installs again from them. Without a
// failure the run is finished when the client's setup wrote [result]
// success=1, when every component was local (and this is no second
// instance), or when a program of a component that takes its result from
// exit codes ended with one that means success (`exitCodesReported`).
RunEnd DecideRunEnd(int installFailed, int successValue, int allLocal, int secondInstance,
                    int usesNetwork, int exitCodesReported = 0);

// Where a component's "run" and "ispackage" programs report their result:
// the key resultFrom, "statefile" (the default: [result] success=1 in the
// state file, and "Failed" in the registry) or "exitcode" (the program's
// exit code; "Failed" still fails it), in any case.
enum ResultSource {
    ResultFromUnknown = -1,  // another value: read as the default
    ResultFromStateFile = 0,
    ResultFromExitCode = 1,
};
int ResultSourceOf(const char* value);

// What an exit code says: 0 success; 3010 (a restart is needed to finish)
// and 1641 (the program has started the restart) success with a restart
// needed; anything else a failure.
enum ExitCodeVerdict {
    ExitCodeSuccess = 0,
    ExitCodeRestartNeeded = 1,
    ExitCodeFailure = 2,
};
int JudgeExitCode(unsigned long code);
// For the log: "success", "success, a restart is needed", "success, the
// program has started a restart", "a failure".
const char* ExitCodeMeaning(unsigned long code);

// How a value goes into the state file, whose readers (the installed
// client) use the ANSI profile functions in the legacy code page. Where
// the program's texts are not UTF-8, as it always did. Otherwise a new file
// is made UTF-16 with its mark, which every profile reader reads as
// Unicode; a file in Unicode already is written as it is; a file in the
// legacy code page keeps it: a value beyond ASCII, or a file holding such
// bytes, goes through a UTF-16 copy converted back, since the profile
// functions of a UTF-8 program would rewrite the whole file in UTF-8.
enum StateFileWriting {
    WriteStateAsItIs,
    WriteStateNewUtf16,
    WriteStateKeepingLegacy,
};
StateFileWriting ChooseStateFileWriting(bool exists, TextEncoding encoding, bool valueIsAscii,
                                        bool textsUtf8);
