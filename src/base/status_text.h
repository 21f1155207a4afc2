// Status texts that take a file name and a site: the download dialog's
// transfer lines and the completion step's install lines share one format
// rule. Portable: no Windows header.
#pragma once

// Formats a status text that takes a file name and a site: "%s" takes the
// file at its first use and the site at its second, "%1" takes the file
// name, "%%" gives "%". Any other conversion is copied as it stands, so a
// text from the string table can never read past the two arguments.
void FormatFileStatus(const char* format, const char* fileName, const char* siteName, char* out,
                      int size);
