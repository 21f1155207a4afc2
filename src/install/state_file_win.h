// The state file "tessark.ini" in the Windows directory: it carries a run's
// progress into the next start ([download]), hands the install result over
// from the client's setup ([result]) and the proxy settings to the client
// ([ProxySettings]).
#pragma once

// Windows directory followed by "\tessark.ini" (260 bytes).
void GetStateFilePath(char* out);
int ReadStateInt(const char* section, const char* key, int defaultValue);
void WriteStateText(const char* section, const char* key, const char* value);
void DeleteStateFile();
