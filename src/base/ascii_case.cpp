// Comparisons of texts with ASCII letters in either case.
#include "base/ascii_case.h"

#include <cstring>

bool EqualNoCase(const char* a, const char* b) {
    if (!a || !b) return a == b;
    for (;; ++a, ++b) {
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
        if (!*a) return true;
    }
}

bool EqualNoCaseN(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
        if (!a[i]) return true;
    }
    return true;
}

bool EqualNoCase(const char* a, size_t length, const char* word) {
    return std::strlen(word) == length && StartsNoCase(a, length, word);
}

bool StartsNoCase(const char* text, size_t length, const char* prefix) {
    size_t n = std::strlen(prefix);
    return n <= length && EqualNoCaseN(text, prefix, n);
}

bool StartsNoCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix)
        // The terminator of a shorter text matches no byte of the prefix.
        if (AsciiLower(*text) != AsciiLower(*prefix)) return false;
    return true;
}
