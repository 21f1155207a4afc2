// Files of 2 GiB and more: byte counts in the transports' reports, the
// kilobytes and progress steps the dialog shows, the total of a part list
// and the size an FTP server announces, all whole past 32 bits.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "download/fetch_rules.h"
#include "download/ftp_protocol.h"
#include "download/line_file.h"
#include "download/report_bytes.h"

namespace {
const long long kGiB = 1024LL * 1024 * 1024;

// What the 32-bit program's message parameters can hold.
bool FitsThirtyTwoBits(uintptr_t wParam, intptr_t lParam) {
    return wParam <= UINT32_MAX && lParam >= INT32_MIN && lParam <= INT32_MAX;
}

long long RoundTrip(int code, long long bytes, int* codeOut = nullptr) {
    uintptr_t w = 0;
    intptr_t l = 0;
    PackReportBytes(code, bytes, &w, &l);
    EXPECT_TRUE(FitsThirtyTwoBits(w, l)) << bytes;
    if (codeOut) *codeOut = ReportCode(w);
    return ReportBytes(w, l);
}
}  // namespace

TEST(ReportBytes, CountsBelowTwoGiBTravelAsBefore) {
    for (long long bytes : {0LL, 1LL, 65536LL, 2 * kGiB - 1}) {
        uintptr_t w = 99;
        intptr_t l = 99;
        PackReportBytes(0, bytes, &w, &l);
        EXPECT_EQ(0u, w) << bytes;
        EXPECT_EQ(bytes, static_cast<long long>(l));
    }
    // A refused transfer and an unknown size keep their plain form.
    uintptr_t w = 0;
    intptr_t l = 0;
    PackReportBytes(4, 0, &w, &l);
    EXPECT_EQ(4u, w);
    EXPECT_EQ(0, l);
    PackReportBytes(0, -1, &w, &l);
    EXPECT_EQ(0u, w);
    EXPECT_EQ(-1, l);
    EXPECT_EQ(-1, ReportBytes(w, l));
}

TEST(ReportBytes, LargeCountsRoundTripInThirtyTwoBitParameters) {
    int code = -1;
    for (long long bytes : {2 * kGiB, 4 * kGiB - 1, 4 * kGiB, 5 * kGiB + 12345, 1LL << 40, kMaxReportBytes}) {
        EXPECT_EQ(bytes, RoundTrip(0, bytes, &code)) << bytes;
        EXPECT_EQ(0, code);
    }
    // The code stays readable beside a large count.
    EXPECT_EQ(5 * kGiB, RoundTrip(4, 5 * kGiB, &code));
    EXPECT_EQ(4, code);
    // Beyond what the parameters carry the count is cut, never wrapped.
    EXPECT_EQ(kMaxReportBytes, RoundTrip(0, kMaxReportBytes + 1));
    EXPECT_EQ(kMaxReportBytes, RoundTrip(0, LLONG_MAX));
}

TEST(Progress, FiveGiBShowsSaneKilobytesAndSteps) {
    long long total = 5 * kGiB;
    EXPECT_EQ(5242880, ShownKilobytes(total));
    EXPECT_EQ(4194304, ShownKilobytes(4 * kGiB));
    // The shown values round as the status text always did.
    EXPECT_EQ(0, ShownKilobytes(511));
    EXPECT_EQ(1, ShownKilobytes(513));
    EXPECT_EQ(0, ShownKilobytes(-1));
    // The bar counts kilobytes while they fit its range.
    EXPECT_EQ(5242880, ProgressSteps(total, total));
    EXPECT_EQ(4194304, ProgressSteps(4 * kGiB, total));
    EXPECT_EQ(0, ProgressSteps(0, total));
    EXPECT_EQ(0, ProgressSteps(-1, -1));
    EXPECT_EQ(64, ProgressSteps(65536, -1));
}

TEST(Progress, HugeFilesAreCountedInLargerUnits) {
    long long total = 1LL << 45;  // 32 TiB: 2^35 kilobytes
    int range = ProgressSteps(total, total);
    EXPECT_GT(range, 0);
    EXPECT_LE(range, INT_MAX);
    EXPECT_EQ(range / 2, ProgressSteps(total / 2, total));
    EXPECT_EQ(range, ProgressSteps(total, total));
    // The status text's "%d" never wraps to a negative number.
    EXPECT_EQ(INT_MAX, ShownKilobytes(total));
}

TEST(PartPlan, TotalOfLargePartsPassesFourGiB) {
    LineFile list;
    std::string text = "[files]\n";
    for (int n = 0; n < 5; ++n) {
        char line[64];
        snprintf(line, sizeof line, "file%03d.bin=2000000000\n", n);
        text += line;
    }
    text += "file005.bin=123\n[sums]\n";
    ASSERT_EQ(0, list.LoadText(text.data(), static_cast<unsigned>(text.size())));
    PartPlan plan;
    ReadPartPlan(list, &plan);
    EXPECT_EQ(6, plan.count);
    EXPECT_EQ(10000000123LL, plan.total);
    EXPECT_EQ(2000000000, plan.bufferSize);
    EXPECT_EQ(10000000123LL, RoundTrip(0, plan.total));
}

TEST(FtpTransferSize, SizesPastTwoGiBAreRead) {
    EXPECT_EQ(2147483648LL, ParseTransferSize("150 x (2147483648 bytes)"));
    EXPECT_EQ(5368709120LL, ParseTransferSize("150 Opening BINARY mode data connection for big.bin (5368709120 bytes).\r\n"));
    EXPECT_EQ(kMaxReportBytes, ParseTransferSize(("150 x (" + std::to_string(kMaxReportBytes) + " bytes)").c_str()));
    // Past what a report carries, and past 64 bits, no size is believed.
    EXPECT_EQ(-1, ParseTransferSize(("150 x (" + std::to_string(kMaxReportBytes + 1) + " bytes)").c_str()));
    EXPECT_EQ(-1, ParseTransferSize("150 x (99999999999999999999999 bytes)"));
}
