// The text of the run log: one line per event, a local time stamp in
// front, secrets masked, figures of a transfer written the same way every
// time; and the names of the log files in the temporary folder. Portable:
// the file itself is written by the Windows side (run_log_win.cpp).
#pragma once

struct LogTime {
    int year, month, day;
    int hour, minute, second, millisecond;
};

// "2026-12-07 13:04:11.123"; cut to fit `size`.
void FormatLogStamp(const LogTime& time, char* out, int size);

// Copies `text` with every secret replaced by "***": the password of a
// "user:password@host" address, the value after "Authorization:" or
// "Proxy-Authorization:" (to the end of the text), the value of a key
// whose name ends in "password" ("password=...", "proxypassword: ..."),
// and the argument of an FTP "PASS" command. Line breaks, tabs and other
// control characters become blanks, so that one event stays one line.
// Secrets are replaced before anything is cut to fit, so a cut never lets
// part of one through.
void MaskSecrets(const char* text, char* out, int size);
// Copies `text` with every occurrence of each of the `count` secrets
// replaced by "***"; secrets shorter than kMinSecretLength are left to
// MaskSecrets (masking every "a" would leave nothing to read).
const int kMinSecretLength = 3;
void ReplaceSecrets(const char* text, const char* const* secrets, int count, char* out, int size);

// The whole line: stamp, a blank, the masked text, "\r\n". Returns its
// length (without terminator). A text too long is cut and the line still
// ends with "\r\n".
int FormatLogLine(const LogTime& time, const char* text, char* out, int size);

// "20603 bytes in 0.412 s (48.8 KB/s)": the byte count, the time in
// seconds with milliseconds and the average rate in B/s, KB/s or MB/s
// (1024 bytes to a KB). A time of 0 ms counts as 1 ms; negative values
// count as 0.
void FormatTransfer(long long bytes, long long milliseconds, char* out, int size);
// The average rate in bytes per second, without overflow for any size.
long long AverageRate(long long bytes, long long milliseconds);

// Name of a new log: "<program>-YYYYMMDD-HHMMSS-mmm.log", where <program>
// is the module file name without directory and extension. Names of one
// program sort by their start time.
void FormatLogFileName(const char* moduleFileName, const LogTime& start, char* out, int size);
// True when `fileName` is a log that FormatLogFileName makes for the same
// program (letters compared without regard to case).
bool IsRunLogName(const char* moduleFileName, const char* fileName);

// Of `count` log names of one program (any order), which to remove so that
// only the `keep` newest remain: marks remove[i] = 1 for those, 0 for the
// others, and returns how many it marked.
int SelectOldLogs(const char* const* names, int count, int keep, int* remove);

// The "-log PATH" switch, looked for only before "-inf " (whose path takes
// the rest of the line): PATH is a word up to the next blank, or a text in
// double quotes. Writes the path (cut to `pathSize`; empty when there is no
// switch) and the command line without the switch and its path into
// `rest` (`restSize` at least the length of the command line + 1 keeps it
// whole). Returns whether the switch was found.
bool CutLogSwitch(const char* commandLine, char* path, int pathSize, char* rest, int restSize);
// The same for any switch that takes a value: `name` with its blank
// ("-log ", "/proxy "), found only at the start of the line or after a
// blank, and before "-inf ".
bool CutValueSwitch(const char* commandLine, const char* name, char* value, int valueSize, char* rest,
                    int restSize);
