// The kept files on both sides of the install handed to the elevated copy.
// The run that hands over lists what its install reads from the download
// folder, with each file's SHA-256 (install/kept_list.h). The elevated copy
// trusts nothing the user's unelevated processes can still change: it
// checks the list against the SHA-256 on its command line, copies each
// listed file into a folder of its own that they cannot write, checks each
// copy against the list, and installs from there only.
#pragma once

#include "http/sha256.h"

// The run that hands over: writes the list into the download folder (the
// setup descriptions; the files of every component whose files lie there,
// fetched or unpacked; the files its action and registry lines name;
// cvgetex.dll) and the list's SHA-256 in hexadecimal to `listSum`. Only
// files present are listed. 0 when a file cannot be read or the list
// cannot be written.
int WriteKeptList(const char* downloadFolder, const char* setupPath, int componentCount,
                  char listSum[kSha256HexLength + 1]);

// The elevated copy: reads the list in `keptFolder`, checks it against
// `listSum` (hexadecimal), makes a folder of its own in the temporary
// folder that only the elevated account may write, and copies every listed
// file into it, each read once while its SHA-256 is taken and its copy
// written. A link or other reparse point, a file with more than one name,
// a file that differs from the list, or a list that differs from the sum
// stops it: 0, and the folder made is removed again. 1 and the folder's
// path in `ownFolder` when every file matched.
int TakeKeptFiles(const char* keptFolder, const char* listSum, char* ownFolder, int size);
