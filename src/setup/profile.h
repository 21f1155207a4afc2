// The portable half of the setup profile: the list tokenizer, the cache of
// string sections, variable lookup and the %name% substitution.
#pragma once

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
