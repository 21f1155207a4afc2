// cvpack keys: prints the reference table of setup-description keys in
// Markdown, from the program's own key table (where each key is read, how)
// and the words below (what it means, its default and units). The README's
// table is this output; its test compares the two, so a key added to the
// program without a line here, or a README left behind, fails the tests.
#include <cstdio>
#include <cstring>

#include "cvpack.h"
#include "setup/setup_keys.h"

namespace {
struct KeyWords {
    SetupKeyId id;
    const char* meaning;
    const char* defaultValue;
    const char* units;
};

// One line per key of the program's table, in any order.
const KeyWords kWords[] = {
    {KeyAllowIntervention, "`FALSE`: nobody attends the run (no introduction, questions or dialogs; messages go "
                           "to the run log only), as with `/quiet`", "`TRUE`", "`TRUE` or `FALSE`"},
    {KeySaveProxySettings, "`TRUE`: the proxy that reached a part list is handed to the client in `tessark.ini`",
     "`TRUE`", "`TRUE` or `FALSE`"},
    {KeyProxyAutoConfig, "a proxy auto-configuration script asked first in the browser step of every \"http\" "
                         "component", "none", "URL"},
    {KeyMaxConnections, "parts of an \"http\" component fetched at once, each over a connection of its own, "
                        "checked as they arrive and joined in order; `1` fetches one part at a time", "`4`",
     "number, 1 to 8"},
    {KeyStrings, "sections whose values stand for `%name%` in every value", "none", "section names"},
    {KeyComponents, "the component sections, in the order they are added", "none", "section names"},
    {KeyName, "the name shown in the dialogs; a component without one is left out", "none",
     "text, up to 199 characters"},
    {KeyEnable, "`0` leaves the component out", "`1`", "number"},
    {KeySize, "the size shown in the list", "`0` (not shown)", "KB"},
    {KeyDisplayOrder, "the order in the list and of the fetches", "`100`", "number, lower first"},
    {KeyInstallOrder, "the order of the installs; 10000 and above: never installed", "`100`",
     "number, lower first"},
    {KeyProtocol, "where the files come from: `http` (lower case only), `ftp`, `copy` (from `SourceDir`), "
                  "`cdrom` (beside the program) or `selfext` (the package; also any other value)",
     "`selfext`", "word"},
    {KeySourceDir, "the folder on the site (`http`, `ftp`) or on disk (`copy`)", "none", "path"},
    {KeyNoDownloadIfObjectsExist, "skip the component when every class ID listed is registered", "none",
     "class IDs"},
    {KeyNoDownloadIfFilesExist, "skip the component when every file listed is found on the search path "
                                "(`name:a.b.c.d`: with at least that product version, `name:#a.b.c.d`: file "
                                "version)", "none", "file names"},
    {KeyFiles, "the component's files; an \"http\" component has exactly one (its parts are fetched), others "
               "any number", "none", "file names"},
    {KeySite, "the server: `host[:port]`, `https://host[:port]`, or an FTP host", "none", "host"},
    {KeyProxy, "the component's own proxy, tried first after `/proxy`", "none", "host"},
    {KeyPort, "the port of `proxy`", "none", "number"},
    {KeyUser, "the login at the site (`ftp`: anonymous without one)", "none", "text"},
    {KeyPassword, "the password at the site", "none", "text"},
    {KeyProxyUser, "the proxy's login (`DOMAIN\\user` or `user`)", "none", "text"},
    {KeyProxyPassword, "the proxy's password", "none", "text"},
    {KeyCount, "the install rounds: each round `i` runs `extract<i>`, `registry<i>`, `install<i>`", "`1`",
     "number"},
    {KeyExtract, "an action line run first in round `n`", "none", "action line"},
    {KeyRegistry, "a registry section imported in round `n`: `Section` or `Section@file.inf`", "none",
     "section"},
    {KeyInstall, "an action line run last in round `n`", "none", "action line"},
    {KeyFileSha256, "fingerprint of the first file: for `http` its part list as served, for `ftp` the file; "
                    "a fetch that does not match is tried again, then the component fails; for the other "
                    "protocols the file where it lies, which must match before anything is installed", "none", "64 hex digits (SHA-256)"},
    {KeyFileSha256Nth, "fingerprint of the n-th file of `files`, in place of `sha256` for the first", "none",
     "64 hex digits (SHA-256)"},
    {KeyMirrorSite, "a further site with the same files, tried in order when a file cannot be had from the "
                    "one before (parts already checked are kept); the numbers go up from 2 without a gap",
     "none", "host"},
    {KeyMirrorUser, "the login of `site<n>`", "none", "text"},
    {KeyMirrorPassword, "the password of `site<n>`", "none", "text"},
    {KeyTries, "failed tries of an \"http\" component's part list or of one part on one site, with a growing "
               "pause between them, before the next site is tried or the component fails", "`10`",
     "number, 1 to 99"},
    {KeyResultFrom, "`exitcode`: each `run` and `ispackage` program's exit code tells its result (0 success, "
                    "3010 and 1641 success with a restart, anything else failure); `statefile`: the client "
                    "writes `[result] success=1` into `tessark.ini`", "`statefile`", "word"},
};

const KeyWords* WordsOf(int id) {
    for (const KeyWords& w : kWords)
        if (w.id == id) return &w;
    return nullptr;
}
}  // namespace

int CmdKeys(int argc, char**) {
    if (argc != 0) {
        std::fprintf(stderr, "usage: cvpack keys\n");
        return 2;
    }
    int missing = 0;
    std::printf("| Key | Section | Meaning | Default | Units | Scrambled |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (int id = 0; id < kSetupKeyCount; ++id) {
        const SetupKey& key = kSetupKeys[id];
        const KeyWords* words = WordsOf(id);
        if (!words) {
            std::fprintf(stderr, "cvpack keys: no description of key \"%s\"\n", key.name);
            ++missing;
            continue;
        }
        char name[64];
        if (key.firstNumber)
            std::snprintf(name, sizeof name, "%s<n>` (n from %d)", key.name, key.firstNumber);
        else
            std::snprintf(name, sizeof name, "%s`", key.name);
        std::printf("| `%s | %s | %s | %s | %s | %s |\n", name,
                    key.place == KeyInDefs ? "`[defs]`" : "component", words->meaning, words->defaultValue,
                    words->units,
                    key.kind == KindPassword ? "yes, in an \"http\" component (`cvpack scramble`)" : "no");
    }
    return missing ? 1 : 0;
}
