// The small line-oriented reader of part lists ("pkginfo.txt"), and the rules
// that turn a part list into the fetch plan of an HTTP component: part names,
// sizes, sums, the URLs and proxy texts of the requests, the order of proxy
// attempts and the pause between tries of a failing part. Portable code.
#pragma once

#include "base/text_copy.h"
#include "http/sha256.h"
#include <cstdint>

struct LineNode {
    LineNode* previous;
    LineNode* next;
    char* text;  // one line, at most 399 characters, ending in "\n"
};

class LineFile {
public:
    LineFile() : first(nullptr), last(nullptr) {}
    ~LineFile() { Clear(); }
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    // Reads the file as text; 0 at its end, -1 when it cannot be opened or
    // read, or memory runs out. The list is emptied first.
    int Load(const char* path);
    // Same rules over text already in memory (used by Load and the tests).
    int LoadText(const char* text, unsigned length);
    void Clear();
    // First node whose section name equals `name` exactly, or null.
    LineNode* FindSection(const char* name) const;
    // 0 and the parsed value in *out when the section has the key; -1 and
    // *out untouched otherwise.
    int GetValue(const char* section, const char* key, int* out) const;
    // The SHA-256 a part list gives in its [sha256] section for a part name
    // or for kSha256TotalKey: 0 and the digest; -1 (digest untouched) when
    // the list names none for the key; -2 when the line is there but its
    // value is not 64 hexadecimal digits.
    int GetSha256(const char* key, unsigned char digest[kSha256Size]) const;

    static bool SectionName(const LineNode* node, char* out, int size);
    static bool KeyMatches(const LineNode* node, const char* key);
    static int ParseValue(const LineNode* node);

    LineNode* first;
    LineNode* last;

private:
    int Append(const char* text, unsigned length);
};

// Lines are read in pieces of this many characters; a longer line becomes
// several nodes.
const int kLinePieceLength = 398;

// "file%03d.bin" into `out` (at least 16 bytes).
void PartName(int number, char* out, int size);

// The strong sums of a part list: a section after [files] and [sums] with
// one line per part name and one for the whole file. Readers that know
// only the 32-bit sums pass over it like any section they do not ask for.
extern const char kSha256Section[];   // "sha256"
extern const char kSha256TotalKey[];  // "total"

// What the "files" section of a part list says.
struct PartPlan {
    int count;          // parts file000.bin ... up to the first missing name
    int64_t total;      // sum of their sizes
    int bufferSize;     // the first non-zero size, 0 when every size is 0
    int strongSums;     // the list has a [sha256] section
};
void ReadPartPlan(const LineFile& list, PartPlan* plan);
// Whether a part list is whole: every part of its "files" section has its
// sum, "total_sum" is there, and a [sha256] section, where there is one,
// names every part and the whole file. A list cut short (on the server, or
// by a connection that ended early without saying how long the list was)
// fails this and is fetched again; `problem` then says what is missing.
bool PartListWhole(const LineFile& list, char* problem, int size);
// How bytes compare with the strong sum the list gives for `key` (a part
// name, or kSha256TotalKey for the joined file).
enum StrongSumCheck {
    StrongSumAbsent,   // the list has no [sha256] section: only the 32-bit sums count
    StrongSumMatches,
    StrongSumDiffers,  // other bytes, or a list with the section but no good line for the key
};
StrongSumCheck CheckStrongSum(const LineFile& list, const char* key, const unsigned char digest[kSha256Size]);
StrongSumCheck CheckStrongSumOf(const LineFile& list, const char* key, const void* bytes, size_t size);
// Every part must fit the buffer that the first non-zero part sizes; a
// negative size fits nothing.
bool PartSizeFits(int size, int bufferSize);

// The URL of a file of the site: the site text ("[scheme://]host[:port]/dir/")
// taken apart by the URL parser and built again with the user information
// (an empty user and password included, escaped so that the parser gives
// them back), then the remote path and the name: "http://u:p@host/dir/f".
// "" when the site has no host or a refused port, or the URL does not fit
// (a cut URL would lead somewhere else).
void FormatSiteUrl(char* out, int size, const char* user, const char* password,
                   const char* site, const char* remotePath, const char* name);
// Proxy text of a configured or user-given proxy: empty without an address;
// "user:password@host:port", the address taken apart by the URL parser (so
// "http://proxy" gives the host "proxy"), without ":port" when neither the
// settings nor the address give one; user and password escaped as in
// FormatSiteUrl.
void FormatProxyText(char* out, int size, const char* user, const char* password,
                     const char* address, const char* port);
// Proxy text of a browser's proxy, which carries no credentials.
void FormatBareProxyText(char* out, int size, const char* address, const char* port);

// The arrangements tried in turn to reach a part list. RunGiven, the
// proxy (or the direct connection) the command line gave, comes first
// when there is one.
enum ProxyAttempt { Configured = 0, Browser = 1, Direct = 2, AskUser = 3, RunGiven = 4 };
// The attempt after a failed one; AskUser repeats.
ProxyAttempt NextProxyAttempt(ProxyAttempt attempt);

// Pause before try number `failures` + 1 of a part that failed `failures`
// times in a row: 1 s, doubling, at most 30 s.
int PartRetryDelayMs(int failures);

