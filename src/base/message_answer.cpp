// The default button of each kind of message box.
#include "base/message_answer.h"

namespace {
// Button ids of the system's message boxes.
enum { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7, TryAgain = 10, Continue = 11 };
}  // namespace

int DefaultMessageAnswer(unsigned type) {
    static const int buttons[][3] = {
        {Ok, 0, 0},                      // MB_OK
        {Ok, Cancel, 0},                 // MB_OKCANCEL
        {Abort, Retry, Ignore},          // MB_ABORTRETRYIGNORE
        {Yes, No, Cancel},               // MB_YESNOCANCEL
        {Yes, No, 0},                    // MB_YESNO
        {Retry, Cancel, 0},              // MB_RETRYCANCEL
        {Cancel, TryAgain, Continue},    // MB_CANCELTRYCONTINUE
    };
    const unsigned set = type & 0xF;
    if (set >= sizeof buttons / sizeof buttons[0]) return Ok;
    const unsigned place = (type >> 8) & 0xF;
    if (place < 3 && buttons[set][place]) return buttons[set][place];
    return buttons[set][0];
}
