// cvpack pack / list (placeholder until the package format lands).
#include <cstdio>
#include "cvpack.h"
int CmdPack(int, char**) { std::fprintf(stderr, "cvpack: pack is not available yet\n"); return 1; }
int CmdList(int, char**) { std::fprintf(stderr, "cvpack: list is not available yet\n"); return 1; }
