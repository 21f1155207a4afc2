// Copying text into the program's fixed-size buffers: a value that does not
// fit is cut, the buffer is always terminated, never written past.
#pragma once

// Copies at most size - 1 characters of `text` (null counts as empty) and a
// terminator; true when the whole text fitted.
bool CopyTruncated(char* out, int size, const char* text);
// Appends `text` to the terminated text in `out`, cut to fit `size`.
void AppendTruncated(char* out, int size, const char* text);
