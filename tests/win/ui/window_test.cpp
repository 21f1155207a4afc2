#include <gtest/gtest.h>
#include <windows.h>
TEST(WinSmoke, LoadsString) {
    char b[100];
    ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), 16, b, sizeof b), 0);
    EXPECT_STREQ("Corvane Lite Installer", b);
}
