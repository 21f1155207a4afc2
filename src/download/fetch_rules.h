// Decisions of the download run that need no window: the remote path of a
// file, the status texts with their file and site arguments, the arguments
// of the resume shortcut, the choice of the next component to install and
// the way a run ends.
#pragma once

// Remote path handed to a transport's Fetch: the component's directory,
// "/" when it is not empty, and for FTP the file's own name. Over HTTP the
// directory itself names the published file. Cut to `size` - 1 characters.
void BuildRemotePath(const char* remoteDir, const char* fileName, int isFtp, char* out, int size);

// Formats a status text that takes a file name and a site: "%s" takes the
// file at its first use and the site at its second, "%1" takes the file
// name, "%%" gives "%". Any other conversion is copied as it stands, so a
// text from the string table can never read past the two arguments.
void FormatFileStatus(const char* format, const char* fileName, const char* siteName, char* out,
                      int size);

// The "dl4" report of a fetch that failed on the site's certificate; its
// lParam is the reason (http/secure_channel.h).
const int kFetchCertificateFailed = 6;
// String id of the message for a certificate that failed for `reason`
// (a TlsFailure), or 0 when the reason is not about the certificate.
int CertificateMessageId(int reason);
// The host of a site text ("https://host:port/dir", "host/dir"), cut to
// the buffer.
void SiteHost(const char* site, char* out, int size);

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

// Arguments of the resume shortcut written when a run that needs the
// network starts.
const char* StartShortcutArguments(int saveProxySettings);
// Appends " -inf" and the quoted setup path, which a resumed run of a
// setup description named with "-inf " needs last on its command line;
// false (and `out` unchanged) when it does not fit whole.
bool AppendSetupPathArgument(const char* setupPath, char* out, int size);

// ASCII case-insensitive equality of two site names.
int SameSiteName(const char* a, const char* b);

// Component states and install orders of the list rows, in row order:
// the row to install next (state "downloaded", the smallest install order
// below 10000, the earlier row on equal orders), or -1.
int PickInstallRow(const int* states, const int* installOrders, int count);

// How a run that reached the install ends.
struct RunEnd {
    int result;           // 1003: finished, 1009: keep the files
    int deleteStateFile;  // the state file has served its run
};
// A failed install action ends the run keeping its files, whatever the
// client's setup wrote: the next start installs again from them.
RunEnd DecideRunEnd(int installFailed, int successValue, int allLocal, int secondInstance,
                    int usesNetwork);
