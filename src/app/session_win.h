// One download session: Windows Sockets, the download folder, the modal
// download dialog and what its result asks for afterwards.
#pragma once

// Returns the session's exit code (run_modes.h): ExitSuspended when the
// session was suspended (the caller then waits in the tray).
// `installKept`: this is the elevated copy of a run that handed its install
// over ("/InstallKept"): it goes straight to the install of the kept files
// in `keptFolder` (or in the folder of `setupPath`).
int RunDownloadSession(int showIntro, int resuming, const char* setupPath, int saveProxySettings,
                       int installKept, const char* keptFolder);

// How long the end of a session, or a Quit from the tray, waits for fetch
// workers to let go of their files before the download folder is removed;
// a worker checks between blocks, so it normally takes moments.
const unsigned long kTransportStopMs = 5000;
