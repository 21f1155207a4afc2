// Comparing texts with ASCII letters in either case: header names, schemes,
// keys, verbs and host names. Only A-Z and a-z are folded; every other byte,
// those above 127 included, compares as it is, so the result never depends
// on a code page or a locale.
#pragma once
#include <cstddef>

// The lower-case form of an ASCII capital; any other byte as it is.
inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Two terminated texts are equal but for case; null equals only null.
bool EqualNoCase(const char* a, const char* b);
// The first `n` bytes of two texts are equal but for case (as strncmp,
// a terminator in both at the same place ends the comparison).
bool EqualNoCaseN(const char* a, const char* b, size_t n);
// The `length` bytes at `a` equal the terminated text `word` (of that
// length) but for case. Reads no byte of `a` beyond `length`.
bool EqualNoCase(const char* a, size_t length, const char* word);
// The `length` bytes at `text` begin with the terminated text `prefix`
// but for case. Reads no byte of `text` beyond `length`.
bool StartsNoCase(const char* text, size_t length, const char* prefix);
// The terminated `text` begins with `prefix` but for case.
bool StartsNoCase(const char* text, const char* prefix);
