// The code pages in play: the program's own (UTF-8 where the system lets a
// program choose it) and the system's legacy one, which programs that do
// not choose get and which older files are written in; and the file
// conversions between them that the setup and state files need.
#pragma once

// Decides, once at start-up before any other thread runs, whether the
// program's texts are UTF-8: so when the system honoured the program's
// choice of UTF-8 as its code page.
void UseProgramCodePage();
// The system's legacy ANSI code page, also where the program runs in UTF-8.
unsigned LegacyCodePage();

// Reads a whole file of at most `limit` bytes into a new buffer that the
// caller frees with std::free; false when it cannot, or the file is larger.
bool ReadWholeFile(const char* path, unsigned limit, char** bytes, unsigned* size);
// Writes `length` bytes of text in `codePage` into `path` as UTF-16 with
// its byte-order mark, replacing the file. Without a path (`path` empty) a
// new file is made in the temporary folder and its name written there.
bool WriteUtf16File(char* path, const char* text, int length, unsigned codePage);
// The text of a UTF-16 file with its mark in `codePage`, in a new buffer;
// characters the code page cannot hold become "?" (`lossy` then set).
bool ReadUtf16File(const char* path, unsigned codePage, char** text, int* length, bool* lossy);
