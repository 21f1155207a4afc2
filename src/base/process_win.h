// The bottom layer: process-wide state shared by every subsystem (the
// run flags and the registered window messages through which transports
// and the download dialog talk).
#pragma once
#include <windows.h>

// 1 while a download session runs, 0 while waiting in the tray.
extern int sessionActive;
// 1 when started with "-run2" beside a running instance.
extern int secondInstance;
// Set when Windows ends the user's session during a download.
extern int restartPending;
// The "-is" / "/is" switch: "ispackage" actions only unpack.
extern int deferPackageSetup;
// Nobody is there to answer a window: "/quiet", or a setup description
// with allowintervention=FALSE. Every message box then goes to the run log
// instead (ShowRunMessageBox) and no question or dialog is shown.
extern int unattendedRun;
// The switches of this run that its later starts take along (" /quiet",
// " /proxy HOST:PORT"): the resume shortcut and the elevated copy.
extern char carriedSwitches[300];
// The command line as the system passed it, program name excluded.
extern const char* commandLine;

// Registered by name before any window exists; equal names give equal ids.
extern const UINT msgDl1;     // "dl1": result of Open
extern const UINT msgDl2;     // "dl2": transfer starts (size) or is refused
extern const UINT msgDl3;     // "dl3": progress, bytes so far
extern const UINT msgDl4;     // "dl4": end of Fetch
extern const UINT msgDl5;     // "dl5": registered only
extern const UINT msgDli1;    // "dli1": asynchronous host lookup finished
extern const UINT msgDlftp1;  // "dlftp1": FTP control connection events
extern const UINT msgDlftp2;  // "dlftp2": FTP listening socket events
extern const UINT msgDlftp3;  // "dlftp3": FTP data connection events
extern const UINT msgDldone;  // "dldone": the fetch phase is over
