// A first look at the setup description before the run starts: whether it
// says allowintervention=FALSE, so that start-up knows from its first
// message on that nobody is there to answer one. Portable: the package is
// read through its stream, the text as the system's profile functions
// read it.
#pragma once
#include <cstddef>

#include "setup/package.h"

// The value of `key` in the first section named `section` of an INI text
// (names matched without regard to case, the first of two equal keys
// counting; blanks around names and values and one pair of quotes around a
// value removed; lines ending in "\r\n" or "\n"; a UTF-8 byte order mark
// skipped), cut to fit `size`. Returns 1 when the key is there.
int IniTextValue(const char* text, size_t length, const char* section, const char* key, char* out,
                 int size);
// Whether a setup description's text says allowintervention=FALSE in its
// [defs] (the value compared as written, as the download dialog does).
int TextForbidsIntervention(const char* text, size_t length);
// Whether any ".inf" record of the package says so. Setup descriptions
// larger than kPeekLimit bytes, and a damaged package, are not looked into:
// the download dialog reads (or refuses) them later as usual.
const unsigned kPeekLimit = 1u << 20;
int PackageForbidsIntervention(PackageFile* package);
