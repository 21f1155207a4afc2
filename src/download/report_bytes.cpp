// Byte counts of the transports' reports (see report_bytes.h).
#include "download/report_bytes.h"

namespace {
const int kCodeBits = 8;
const long long kLowMask = 0x7FFFFFFF;
}  // namespace

void PackReportBytes(int code, long long bytes, uintptr_t* wParam, intptr_t* lParam) {
    uintptr_t codeBits = static_cast<uintptr_t>(code) & ((1u << kCodeBits) - 1);
    if (bytes < 0) {
        *wParam = codeBits;
        *lParam = -1;
        return;
    }
    if (bytes > kMaxReportBytes) bytes = kMaxReportBytes;
    *wParam = codeBits | (static_cast<uintptr_t>(bytes >> 31) << kCodeBits);
    *lParam = static_cast<intptr_t>(bytes & kLowMask);
}

int ReportCode(uintptr_t wParam) { return static_cast<int>(wParam & ((1u << kCodeBits) - 1)); }

long long ReportBytes(uintptr_t wParam, intptr_t lParam) {
    if (lParam < 0) return -1;
    long long high = static_cast<long long>(wParam >> kCodeBits);
    return (high << 31) | (static_cast<long long>(lParam) & kLowMask);
}
