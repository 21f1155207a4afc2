// cvpack: packs files onto the installer executable, lists a package, splits
// a file into the part layout of an HTTP site, prints the fingerprints a
// setup description pins, checks a setup description, and scrambles
// credentials, and prints the reference table of setup-description keys.
#include <cstdio>
#include <cstring>

#include "cvpack.h"

static int Usage() {
    std::fprintf(stderr,
                 "usage: cvpack pack OUT BASE NAME=PATH...\n"
                 "       cvpack list FILE\n"
                 "       cvpack split FILE DIR [--part-size BYTES]\n"
                 "       cvpack pin FILE...\n"
                 "       cvpack check SETUP.inf [--online]\n"
                 "       cvpack scramble TEXT [--seed N]\n"
                 "       cvpack keys\n");
    return 2;
}

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const char* cmd = argv[1];
    if (!std::strcmp(cmd, "pack")) return CmdPack(argc - 2, argv + 2);
    if (!std::strcmp(cmd, "list")) return CmdList(argc - 2, argv + 2);
    if (!std::strcmp(cmd, "split")) return CmdSplit(argc - 2, argv + 2);
    if (!std::strcmp(cmd, "pin")) return CmdPin(argc - 2, argv + 2);
    if (!std::strcmp(cmd, "check")) return CmdCheck(argc - 2, argv + 2);
    if (!std::strcmp(cmd, "scramble")) return CmdScramble(argc - 2, argv + 2);
    if (!std::strcmp(cmd, "keys")) return CmdKeys(argc - 2, argv + 2);
    return Usage();
}
