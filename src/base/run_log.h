// The run log as every layer writes to it: LogEvent("...") adds one
// time-stamped line, with secrets masked. Portable: the lines go to a sink
// that the program installs at its start (run_log_win.cpp writes them to a
// file); without a sink, as in the native tests, nothing is written. A log
// that cannot be written never stops or slows the run.
#pragma once
#include <cstdarg>

#include "base/log_line.h"

#if defined(__MINGW_PRINTF_FORMAT)
#define CV_LOG_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define CV_LOG_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define CV_LOG_FORMAT(f, a)
#endif

// Where the lines go. Write is called from any thread and must be safe for
// that; each call carries one whole line ending in "\r\n".
class LogSink {
public:
    virtual void Now(LogTime* time) = 0;
    virtual void Write(const char* line, int length) = 0;

protected:
    ~LogSink() {}
};

// Installs the sink (null: none). Set before threads that log start.
void SetLogSink(LogSink* sink);
LogSink* GetLogSink();

// One event, printf-style. A line longer than kLogLineSize (stamp and line
// end included) is cut after its secrets are masked.
const int kLogLineSize = 2400;
void LogEvent(const char* format, ...) CV_LOG_FORMAT(1, 2);
void LogEventV(const char* format, va_list args);

// A password the program knows (descrambled from the setup description or
// typed by the user): from now on every line shows "***" in its place,
// wherever it appears. The first kMaxLogSecrets are kept.
const int kMaxLogSecrets = 16;
void AddLogSecret(const char* secret);
// Forgets them (for tests).
void ClearLogSecrets();
