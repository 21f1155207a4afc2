// Reading the setup description through the system's private-profile
// functions, with variable substitution.
#pragma once
#include "setup/profile.h"

// Loads one section of an INI file into the profile cache.
void LoadSection(const char* section, const char* iniPath);
// Reads one text value and expands its variables into `out`.
void ReadSetting(const char* section, const char* key, const char* defaultValue, char* out,
                 int size, const char* iniPath);
