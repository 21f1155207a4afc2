// cvpack split / scramble (placeholder until the HTTP helpers land).
#include <cstdio>
#include "cvpack.h"
int CmdSplit(int, char**) { std::fprintf(stderr, "cvpack: split is not available yet\n"); return 1; }
int CmdScramble(int, char**) { std::fprintf(stderr, "cvpack: scramble is not available yet\n"); return 1; }
