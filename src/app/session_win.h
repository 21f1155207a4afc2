// One download session: Windows Sockets, the download folder, the modal
// download dialog and what its result asks for afterwards.
#pragma once

// Returns the session's exit code (run_modes.h): ExitSuspended when the
// session was suspended (the caller then waits in the tray).
// `installKept`: this is the elevated copy of a run that handed its install
// over ("/InstallKept"): it copies the files kept in `keptFolder` (or in
// the folder of `setupPath`) into a folder of its own, each checked against
// their list, whose SHA-256 is `keptSum`, and goes straight to their
// install from there; files that do not match end the run (ExitFailed),
// nothing installed, the kept files left as they are.
int RunDownloadSession(int showIntro, int resuming, const char* setupPath, int saveProxySettings,
                       int installKept, const char* keptFolder, const char* keptSum);

// How long the end of a session, or a Quit from the tray, waits for fetch
// workers to let go of their files before the download folder is removed;
// a worker checks between blocks, so it normally takes moments.
const unsigned long kTransportStopMs = 5000;
