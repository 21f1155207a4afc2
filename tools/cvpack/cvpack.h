// Subcommands of cvpack; each returns the process exit status.
#pragma once

int CmdPack(int argc, char** argv);      // pack OUT BASE NAME=PATH...
int CmdList(int argc, char** argv);      // list FILE
int CmdSplit(int argc, char** argv);     // split FILE DIR [--part-size BYTES]
int CmdPin(int argc, char** argv);       // pin FILE...
int CmdScramble(int argc, char** argv);  // scramble TEXT [--seed N]
int CmdCheck(int argc, char** argv);     // check SETUP.inf [--online]
int CmdKeys(int argc, char** argv);      // keys: the reference table of setup-description keys
