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
// client's setup wrote: the next start installs again from them.
RunEnd DecideRunEnd(int installFailed, int successValue, int allLocal, int secondInstance,
                    int usesNetwork);

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
