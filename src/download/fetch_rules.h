// Decisions of the download run that need no window: the remote path of a
// file, the certificate and progress texts, when a part list is fetched
// again, and the arguments of the resume shortcut. (The status format itself is base/status_text.h.)
#pragma once

#include "base/status_text.h"
#include "http/sha256.h"

// Remote path handed to a transport's Fetch: the component's directory,
// "/" when it is not empty, and for FTP the file's own name. Over HTTP the
// directory itself names the published file. Cut to `size` - 1 characters.
void BuildRemotePath(const char* remoteDir, const char* fileName, int isFtp, char* out, int size);

// The "dl4" report of a fetch that failed on the site's certificate; its
// lParam is the reason (http/secure_channel.h).
const int kFetchCertificateFailed = 6;
// String id of the message for a certificate that failed for `reason`
// (a TlsFailure), or 0 when the reason is not about the certificate.
int CertificateMessageId(int reason);
// The host of a site text ("https://host:port/dir", "host/dir"), cut to
// the buffer.
void SiteHost(const char* site, char* out, int size);

// The "dl4" report of a fetch whose part list (or file) never matched the
// fingerprint the setup description pins for it.
const int kFetchFingerprintMismatch = 7;
// What the setup description pins for file `number` (from 1) of a
// component: `numbered` is its "sha256_<number>" value, `plain` its
// "sha256" value, which pins the first file where no numbered key does.
enum PinRead { PinNone, PinGiven, PinMalformed };
// PinGiven with the digest; PinMalformed for a value that is no
// fingerprint, which nothing matches (a fetch is never left unchecked
// because a pin was mistyped); PinNone leaves the digest untouched.
PinRead ReadPin(const char* numbered, const char* plain, int number, unsigned char digest[kSha256Size]);
// Whether two digests are the same.
bool SameDigest(const unsigned char a[kSha256Size], const unsigned char b[kSha256Size]);

// Failed tries of a part list or part on one site, from the setup
// description's value: 0 (the key is absent) keeps the transport's own;
// anything else is held to 1 .. kMostTries, so that a typo can neither
// switch the fetch off nor make it try for hours.
const int kMostTries = 99;
int TriesFromSetting(int value);

// Further sites of a component: "site2", "site3" ... are read up to the
// first number missing, and a file that cannot be had from one site is
// fetched from the next, the checked parts on the disk kept.
// kSiteUnreachable stands for a site that could not be connected to.
const int kSiteUnreachable = -1;
// Sites past this number are not read.
const int kMostSites = 99;
// Whether a fetch that failed with "dl4" code `error` (or
// kSiteUnreachable) may succeed at another site: every failure of the site
// or of what it served may (a dead server, a missing or forged part, a list
// or file refused by its pin, a certificate); a full disk here may not.
bool AnotherSiteMayHelp(int error);
// The number of the site to try after site `current` (1 for "site"), given
// the value of "site<current + 1>"; 0 when there is none (an empty value
// ends the sites like a missing one).
int NextSiteNumber(int current, const char* nextSite);

// Parts of an "http" component fetched at once, each over a connection of
// its own, from the setup description's [defs] MaxConnections: 0 (the key
// is absent) gives kDefaultConnections; anything else is held to 1 ..
// kMostConnections, so that a typo cannot open dozens of connections to
// one server.
const int kDefaultConnections = 4;
const int kMostConnections = 8;
int ConnectionsFromSetting(int value);

// A part list longer than this is no part list: its fetch fails, so that a
// server cannot fill the disk with one.
const long long kPartListBytes = 16LL * 1024 * 1024;

// Checked parts wait in memory until they are joined in order; together
// they hold at most this many bytes.
const long long kPartMemoryBytes = 32LL * 1024 * 1024;
// How a fetch of `parts` parts of at most `partBytes` bytes each goes:
// `connections` parts at once, and `buffers` parts at most fetched and not
// yet joined (a part that completes before the ones ahead of it waits).
// Where memory holds them, parts are received into buffers of partBytes,
// with a buffer more than connections so that a connection goes on while
// the joiner holds a part. Parts too large for that are `streamed`: each
// goes to its file as it arrives, is checked there, and is joined from it.
struct PartSlots {
    int connections;
    int buffers;
    bool streamed;
};
PartSlots PlanPartSlots(int connections, int partBytes, int parts, long long memory = kPartMemoryBytes);

// Kilobytes a status text shows for a byte count: (bytes + 511) / 1024, cut
// to what "%d" prints.
int ShownKilobytes(long long bytes);
// The progress bar counts in kilobytes of the file; a file whose kilobytes
// would not fit the bar's int range counts in larger units. The bar's
// range is ProgressSteps(total, total).
int ProgressSteps(long long bytes, long long totalBytes);
// How often the progress of a transfer is painted at most: the status line
// and the bar show the latest report after at most this long.
const unsigned kProgressPaintMs = 100;

// A part whose bytes keep arriving whole and keep disagreeing with the part
// list (in their sum or their count) is more likely listed wrongly than
// damaged: the list was changed on the server since it was read, or came
// damaged itself. After this many such tries
// of one part in a row the part list is fetched again before the next try,
// at most kMostPartListFetchesAgain times in a fetch, so the tries stay
// bounded.
const int kSumFailuresBeforeListAgain = 3;
const int kMostPartListFetchesAgain = 2;
class PartListDoubt {
public:
    // A new part's tries begin.
    void NextPart() { inRow = 0; }
    // A try of the current part failed: `cameWholeButDisagrees` when its
    // body came to its end and its size or sum disagreed with the list.
    // True when the part list is to be fetched again before the next try.
    bool TryFailed(bool cameWholeButDisagrees);
    // The part list was fetched again (whatever came of it).
    void ListFetched() {
        inRow = 0;
        ++fetches;
    }
    int fetches_again() const { return fetches; }

private:
    int inRow = 0;
    int fetches = 0;
};

// Arguments of the resume shortcut written when a run that needs the
// network starts.
const char* StartShortcutArguments(int saveProxySettings);
// Appends " -inf" and the quoted setup path, which a resumed run of a
// setup description named with "-inf " needs last on its command line;
// false (and `out` unchanged) when it does not fit whole.
bool AppendSetupPathArgument(const char* setupPath, char* out, int size);
