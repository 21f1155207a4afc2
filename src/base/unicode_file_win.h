// Files converted between code pages for the profile functions: UTF-16
// copies of setup descriptions and of a legacy state file. Copies go into
// a folder of this process's own (made on first use with the access list
// of an elevated install where this process is one, so that no unelevated
// process of the same user can change what an elevated one reads) and
// leave with it when the process ends.
#pragma once

// Reads a whole file of at most `limit` bytes into a new buffer that the
// caller frees with std::free; false when it cannot, or the file is larger.
bool ReadWholeFile(const char* path, unsigned limit, char** bytes, unsigned* size);
// Writes `length` bytes of text in `codePage` into `path` as UTF-16 with
// its byte-order mark, replacing the file. Without a path (`path` empty, of
// MAX_PATH bytes) a new file is made in the conversion folder and its name
// written there.
bool WriteUtf16File(char* path, const char* text, int length, unsigned codePage);
// The text of a UTF-16 file with its mark in `codePage`, in a new buffer;
// characters the code page cannot hold become "?" (`lossy` then set).
bool ReadUtf16File(const char* path, unsigned codePage, char** text, int* length, bool* lossy);
