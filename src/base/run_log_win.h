// The run log's file: where it goes, old logs of the program, and the
// lines about the process itself that start a log.
#pragma once

// Opens the log and makes it the sink of LogEvent. With `path` (the
// "-log" switch) lines are added to that file; without one, or when that
// file cannot be opened, a new file in the temporary folder named after
// the program and the start time takes them. Older logs of the program in
// the temporary folder beyond the last kKeptOldLogs are removed. Returns
// whether a file is open; without one the run goes on and logs nothing.
const int kKeptOldLogs = 10;
bool OpenRunLog(const char* path);
// Lets go of the file; later lines, also from threads still running, are
// dropped.
void CloseRunLog();
// The file being written, "" when none.
const char* RunLogPath();

// The first line: program file and version, the command line as the
// system passed it, system version and whether the process is elevated.
void LogProgramStart(const char* commandLine);
