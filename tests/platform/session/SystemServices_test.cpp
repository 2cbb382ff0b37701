// Process-manager and system queries: exact answers and argument checks.
#include "platform/SystemServices.h"

#include <gtest/gtest.h>

TEST(SystemServices, QueriesAnswerExactlyAndCheckTheirArguments) {
    SInt32 version = 0x7777;
    EXPECT_EQ(Gestalt(0x71717171, &version), gestaltUndefSelectorErr);
    EXPECT_EQ(version, 0x7777);
    EXPECT_EQ(Gestalt(gestaltSystemVersion, &version), 0);
    EXPECT_EQ(Gestalt(gestaltSystemVersion, nullptr), -50);
    ProcessSerialNumber psn{0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(GetCurrentProcess(&psn), 0);
    EXPECT_EQ(psn.lowLongOfPSN, UInt32(kCurrentProcess));
    EXPECT_EQ(GetCurrentProcess(nullptr), -50);
    EXPECT_EQ(SetFrontProcess(nullptr), -50);
}

TEST(SystemServices, DelaySleepsAtLeastTheTicksAndTickCountNeverGoesBack) {
    const UInt32 before = TickCount();
    unsigned long final = 0;
    Delay(70, &final); // more than a second: the whole seconds count too
    EXPECT_GE(final, before + 70);
    EXPECT_LE(final, before + 300);
    EXPECT_GE(TickCount(), final);
    Delay(0, nullptr);
}
