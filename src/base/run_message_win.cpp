// Message boxes, or in an unattended run their texts in the run log.
#include "base/run_message_win.h"

#include "base/message_answer.h"
#include "base/process_win.h"
#include "base/run_log.h"

namespace {
const char* ButtonName(int id) {
    switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDYES: return "Yes";
    case IDNO: return "No";
    }
    return "its default button";
}
}  // namespace

int ShowRunMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    if (unattendedRun) {
        const int answer = DefaultMessageAnswer(type);
        LogEvent("message (not shown: nobody attends this run; taken as %s): %s", ButtonName(answer), text);
        return answer;
    }
    LogEvent("message shown: %s", text);
    const int answer = MessageBoxA(owner, text, caption, type);
    LogEvent("message answered: %s", ButtonName(answer));
    return answer;
}
