// Binds the code-page choice to the system.
#include "base/code_page_win.h"

#include <windows.h>

#include "base/text_copy.h"

void UseProgramCodePage() { SetTextsUtf8(GetACP() == CP_UTF8); }

unsigned LegacyCodePage() {
    const UINT active = GetACP();
    if (active != CP_UTF8) return active;
    // The system locale's code page, which the program's manifest does not
    // change; a system that runs everything in UTF-8 has no legacy one, and
    // the files of older programs there are most likely Western.
    DWORD page = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&page), sizeof page / sizeof(WCHAR)) &&
        page != 0 && page != CP_UTF8 && IsValidCodePage(page))
        return page;
    return 1252;
}
