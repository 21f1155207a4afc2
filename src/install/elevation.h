// Elevation only for the install. On systems with elevation the download
// runs with the user's own rights; a confirmed install that needs more is
// handed to the program's copy in the download folder, started elevated
// with a switch that goes straight to the install of the kept files.
// Portable: no Windows header.
#pragma once

// "/InstallKept", followed by a blank and the download folder, which runs
// to the end of the command line; in a "-inf " run by "-inf " and the setup
// description instead (its folder is the download folder).
extern const char kInstallKeptSwitch[];

enum InstallRoute {
    InstallHere = 0,            // as on the systems before elevation
    InstallInElevatedCopy = 1,  // hand over to the elevated copy and end
};

// `installKept`: this process is the elevated copy (started with the
// switch); it installs whatever it got, so that a system that starts it
// without elevation can never send the install round in circles.
int ChooseInstallRoute(int systemHasElevation, int processElevated, int installKept);

// Arguments of the elevated copy, each with its leading blank: "-run2"
// for a second instance, "/is", "/SaveProxySettings" as this run has them,
// "/KeptSum:" with `keptSum` (the SHA-256 of the kept files' list, see
// install/kept_list.h), then the switch with the folder, or with "-inf "
// and `setupPath` in a "-inf " run. 0 when they do not fit `size`: a cut
// path would name another folder, so no copy is started then.
// `carried`: the run's switches its later starts take along (" /quiet",
// " /proxy ..."), after "/SaveProxySettings"; they must fit whole too.
int BuildInstallKeptArguments(const char* folder, const char* setupPath, int secondInstance,
                              int deferPackageSetup, int saveProxySettings, const char* keptSum,
                              char* out, int size, const char* carried = nullptr);

// The program's copy in the download folder: the folder followed by the
// module file name from its last "\"; 0 when it does not fit `size`.
int BuildCopyPath(const char* folder, const char* moduleFileName, char* out, int size);
