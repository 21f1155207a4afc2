// Cut-to-fit copies into fixed-size buffers; in the bottom layer because the
// portable download and install code uses them as much as start-up.
#include "base/text_copy.h"

#include <cstring>

bool CopyTruncated(char* out, int size, const char* text) {
    if (size <= 0) return false;
    if (!text) text = "";
    int n = 0;
    while (text[n] && n < size - 1) {
        out[n] = text[n];
        ++n;
    }
    out[n] = 0;
    return text[n] == 0;
}

void AppendTruncated(char* out, int size, const char* text) {
    if (size <= 0) return;
    int used = static_cast<int>(strnlen(out, static_cast<size_t>(size)));
    if (used >= size) {
        out[size - 1] = 0;
        return;
    }
    CopyTruncated(out + used, size - used, text);
}
