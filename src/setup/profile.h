// The portable half of the setup profile: the list tokenizer, the cache of
// string sections, variable lookup and the %name% substitution.
#pragma once

#include "base/text_encoding.h"

// Returns the next token of the text at *cursor (skipping leading
// separators), NUL-terminates it in place and advances the cursor; null when
// no token is left.
char* NextToken(char** cursor, const char* separators);

// Adds one section block to the front of the cache: `entries` holds
// NUL-terminated "key=value" texts and `length` counts their bytes (the
// closing empty text is added here).
void AddProfileSection(const char* entries, unsigned length);
// Value of the first entry named `name` (ASCII case-insensitive), newest
// block first; null when none.
const char* FindVariable(const char* name);
// Writes `text` into `out` (at most size - 1 characters and a NUL) with its
// %name% references replaced; "%%" gives "%".
void ExpandVariables(const char* text, char* out, int size);
// Empties the cache (tests only; the program never frees it).
void ClearProfileCache();

// How the system's profile functions get to read a setup description so
// that its texts arrive in the program's code page. Where the program runs
// in UTF-8, a file in UTF-8 (or ASCII, or UTF-16) is read as it is, one
// with the UTF-8 mark and one in the legacy code page (every setup written
// for older systems) through a UTF-16 copy, which the profile functions
// read as Unicode. Elsewhere every file is read as it is, as always.
enum SetupReading {
    ReadSetupAsItIs,
    ReadSetupUtf16FromUtf8,    // the text after the mark, converted
    ReadSetupUtf16FromLegacy,  // the text converted from the legacy code page
};
SetupReading ChooseSetupReading(TextEncoding encoding, bool textsUtf8);
