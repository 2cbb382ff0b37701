#include "platform/SystemServices.h"

#include <gtest/gtest.h>

TEST(SystemServices, GestaltReportsTheNewestVersionClassAndRefusesOtherSelectors) {
    SInt32 version = 0x7777;
    EXPECT_EQ(Gestalt(gestaltSystemVersion, &version), 0);
    EXPECT_GT(version, 0x104F);

    SInt32 untouched = 0x7777;
    EXPECT_EQ(Gestalt(0x71717171, &untouched), gestaltUndefSelectorErr);
    EXPECT_EQ(untouched, 0x7777);
    EXPECT_NE(Gestalt(gestaltSystemVersion, nullptr), 0);
}

TEST(SystemServices, DelaySleepsAtLeastTheTicksAndTickCountNeverGoesBack) {
    const UInt32 before = TickCount();
    unsigned long final = 0;
    Delay(3, &final);
    EXPECT_GE(final, before + 3);
    EXPECT_GE(TickCount(), final);
    Delay(0, nullptr); // no out pointer: nothing written, no crash
}

TEST(SystemServices, ProcessManagerCallsSucceedAndCheckTheirArguments) {
    ProcessSerialNumber psn{0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(GetCurrentProcess(&psn), 0);
    EXPECT_EQ(psn.highLongOfPSN, 0u);
    EXPECT_EQ(psn.lowLongOfPSN, static_cast<UInt32>(kCurrentProcess));
    EXPECT_EQ(SetFrontProcess(&psn), 0);
    EXPECT_NE(GetCurrentProcess(nullptr), 0);
    EXPECT_NE(SetFrontProcess(nullptr), 0);
}
