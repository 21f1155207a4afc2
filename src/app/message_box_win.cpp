// Start-up's message boxes, texts from the string table.
#include "app/message_box_win.h"

#include "base/run_message_win.h"
#include "base/status_text.h"
#include "ui/window_win.h"

int ShowMessage(UINT id, UINT type) {
    char caption[100] = "";
    char text[512] = "";
    LoadStringA(GetModuleInstance(), 16, caption, sizeof caption);
    LoadStringA(GetModuleInstance(), id, text, sizeof text);
    return ShowRunMessageBox(nullptr, text, caption, type);
}

int ShowMessageWith(UINT id, const char* argument, UINT type) {
    char caption[100] = "";
    char format[512] = "";
    char text[1024] = "";
    LoadStringA(GetModuleInstance(), 16, caption, sizeof caption);
    LoadStringA(GetModuleInstance(), id, format, sizeof format);
    FormatFileStatus(format, argument, "", text, sizeof text);
    return ShowRunMessageBox(nullptr, text, caption, type);
}
