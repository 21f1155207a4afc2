// Reading the setup description through the system's private-profile
// functions, with variable substitution.
#pragma once
#include "setup/profile.h"

// The file the profile functions read for a setup description (or any INI
// file of a setup): the file itself, or a UTF-16 copy of it in the
// process's conversion folder, as ChooseSetupReading says. Copies are made
// again when the file changes and removed when the process ends.
const char* ReadablePath(const char* iniPath);
// Loads one section of an INI file into the profile cache.
void LoadSection(const char* section, const char* iniPath);
// Reads one text value and expands its variables into `out`.
void ReadSetting(const char* section, const char* key, const char* defaultValue, char* out,
                 int size, const char* iniPath);
// Reads one integer value (never expanded).
int ReadSettingInt(const char* section, const char* key, int defaultValue, const char* iniPath);
