// The code pages in play: the program's own (UTF-8 where the system lets a
// program choose it) and the system's legacy one, which programs that do
// not choose get and which older files are written in.
#pragma once

// Decides, once at start-up before any other thread runs, whether the
// program's texts are UTF-8: so when the system honoured the program's
// choice of UTF-8 as its code page.
void UseProgramCodePage();
// The system's legacy ANSI code page, also where the program runs in UTF-8.
unsigned LegacyCodePage();
