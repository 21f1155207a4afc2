// How byte counts travel in the transports' "dl2" and "dl3" reports. The
// 32-bit program's lParam holds 32 bits, and files of 2 GiB and more must
// still report their sizes and progress whole: lParam carries the low 31
// bits of the count, and wParam the report's code in its low byte with the
// count's higher bits above it. A count below 2 GiB therefore travels as a
// plain lParam beside the bare code, as it always did, and a size the
// server did not give (-1) stays lParam -1 with the code alone. Portable.
#pragma once
#include <stdint.h>

// The largest count the two parameters carry in the 32-bit program; a
// larger one is cut to it.
const long long kMaxReportBytes = (1LL << 55) - 1;

void PackReportBytes(int code, long long bytes, uintptr_t* wParam, intptr_t* lParam);
// The code of a "dl2" report (0: the transfer starts, 4: refused).
int ReportCode(uintptr_t wParam);
// The byte count of a "dl2" or "dl3" report; -1 for an unknown size.
long long ReportBytes(uintptr_t wParam, intptr_t lParam);
