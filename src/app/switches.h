// Command-line switches and the relaunch command line of a suspended
// download. Portable: no Windows header.
#pragma once

enum RunMode { Exit = 0, TrayWait = 1, RunSession = 2 };

struct Switches {
    int run2;               // "-run2"
    const char* setupPath;  // text after "-inf " (points into the command line), or null
    int deferPackageSetup;  // "-is" / "/is"
    int saveProxySettings;  // "-SaveProxySettings" / "/SaveProxySettings"
    int unattended;         // "/tray" or "/NoIntervention" given
    int resumed;            // "/NoIntervention"
    int askForRestart;      // "/AskForRestart"
    int quiet;              // "/quiet": nobody attends this run, whatever the setup description says
    int proxyGiven;         // "/proxy VALUE" (or "-proxy VALUE") given
    char proxy[262];        // its value, up to the next blank; empty when it does not fit
    int installKept;        // "/InstallKept": the elevated copy that installs the kept files
    const char* keptFolder; // the download folder after "/InstallKept " (to the end of the
                            // command line), or null (none given, or "-inf " follows)
    char keptSum[65];       // after "/KeptSum:" before "/InstallKept": the SHA-256 of the
                            // kept files' list in hexadecimal; empty when not given
    RunMode mode;
};

// Finds each switch by a case-sensitive substring search, in the order the
// switches are documented; no tokenising, so a switch inside a longer word
// still counts. Everything after "-inf " is the setup path, and a folder
// after "/InstallKept" runs to the end of the line too, so switches are
// looked for only before them (a path holding "-is" or "/tray" sets
// nothing). The value of "/proxy" is no place for switches either: a proxy
// host named "my-tray" starts no tray wait.
void ParseSwitches(const char* commandLine, Switches* out);

// The setup path as the user or a launcher wrote it, made ready to use:
// blanks around it and the double quotes around it are removed (a user
// quotes a path with blanks; a launcher may quote the whole argument, so
// that only the closing quote follows the path). Cut to fit `size`.
void CleanSetupPath(const char* raw, char* out, int size);

// Arguments of the resume shortcut, each with its leading blank, cut to fit
// `size`. A run of a setup description named with "-inf " (`setupPath`
// not null) ends with " -inf" and the quoted path, last since the path
// runs to the end of the command line; the buffer must hold it whole
// (BuildRelaunchArguments returns false otherwise).
// `carried`: the switches of the run that its later starts take along
// (BuildCarriedSwitches), put before the setup path; the buffer must hold
// them whole too.
bool BuildRelaunchArguments(int allowIntervention, int restartPending, int saveProxySettings,
                            const char* setupPath, char* out, int size, const char* carried = nullptr);
// The switches a run gives its later starts (the resume shortcut, the
// elevated copy), each with its leading blank: " /quiet" when the run is
// quiet by the switch, " /proxy " and the proxy given for it.
void BuildCarriedSwitches(int quiet, const char* proxy, char* out, int size);
// The download folder of a "-inf " run: the setup path up to its last "\"
// or ":" (walked by characters: a trail byte of a double-byte character is
// never taken for a separator). A path without either gives ".", the
// current directory, where such a bare file name is found too.
// `isLeadByte` tells the first byte of a double-byte character; null for a
// single-byte code page.
void SetupFolderOf(const char* setupPath, char* out, int size, bool (*isLeadByte)(unsigned char));

// The program's copy in the download folder: folder followed by the module
// file name from its last backslash.
void BuildRelaunchProgram(const char* folder, const char* moduleFileName, char* out, int size);
