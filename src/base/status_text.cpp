// The status text rule shared by the download dialog and the completion step.
#include "base/status_text.h"

#include "base/text_copy.h"

namespace {
// Once a piece does not fit, it is cut where a character begins and
// nothing after it is written: the text stays a beginning of the whole.
void Append(char* out, int size, int* used, const char* text, bool* full) {
    for (; !*full && *text; ++text) {
        if (*used >= size - 1) {
            *used = CharacterCut(out, *used, static_cast<unsigned char>(*text));
            *full = true;
            break;
        }
        out[(*used)++] = *text;
    }
    out[*used] = '\0';
}
}  // namespace

void FormatFileStatus(const char* format, const char* fileName, const char* siteName, char* out,
                      int size) {
    if (size <= 0) return;
    int used = 0;
    int strings = 0;
    bool full = false;
    out[0] = '\0';
    if (!fileName) fileName = "";
    if (!siteName) siteName = "";
    char one[2] = {0, 0};
    for (const char* p = format ? format : ""; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            Append(out, size, &used, strings++ == 0 ? fileName : (strings == 2 ? siteName : ""), &full);
            ++p;
        } else if (p[0] == '%' && p[1] == '1') {
            Append(out, size, &used, fileName, &full);
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            Append(out, size, &used, "%", &full);
            ++p;
        } else {
            one[0] = *p;
            Append(out, size, &used, one, &full);
        }
    }
}
