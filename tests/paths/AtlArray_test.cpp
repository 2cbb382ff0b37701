#include "paths/AtlArray.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts live objects so the tests see which constructors and destructors
// the array runs (growth must run none).
struct Tracked {
    static int live;
    static int copies;
    int value;
    explicit Tracked(int v) : value(v) { ++live; }
    Tracked(const Tracked& other) : value(other.value) {
        ++live;
        ++copies;
    }
    ~Tracked() { --live; }
};
int Tracked::live = 0;
int Tracked::copies = 0;

TEST(AtlArrayTest, NewArrayHasAllFieldsZero) {
    CAtlArray<int> array;
    EXPECT_EQ(array.m_pData, nullptr);
    EXPECT_EQ(array.m_nSize, 0u);
    EXPECT_EQ(array.m_nMaxSize, 0u);
    EXPECT_EQ(array.m_nGrowBy, 0u);
}

TEST(AtlArrayTest, AutomaticStepGivesTheStatedCapacities) {
    CAtlArray<int> array;
    std::vector<uint32_t> seen;
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(array.Add(i), static_cast<unsigned long>(i));
        if (seen.empty() || seen.back() != array.m_nMaxSize)
            seen.push_back(array.m_nMaxSize);
    }
    std::vector<uint32_t> expected = {1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57, 64};
    EXPECT_EQ(seen, expected);
}

TEST(AtlArrayTest, StepIsCappedAt1024FromCount8192On) {
    CAtlArray<int> array;
    uint32_t previous = 0;
    for (int i = 0; i < 20000; ++i) {
        uint32_t count = array.m_nSize;
        array.Add(i);
        if (array.m_nMaxSize != previous && previous != 0) {
            uint32_t step = array.m_nMaxSize - previous;
            uint32_t expected = count / 8 > 3 ? count / 8 : 4;
            if (expected > 1024)
                expected = 1024;
            ASSERT_EQ(step, expected) << "growth at count " << count;
        }
        previous = array.m_nMaxSize;
    }
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(array[i], i);
}

TEST(AtlArrayTest, SixElementsGiveCapacityNineAndIndexSixThrows) {
    CAtlArray<Tracked> array;
    for (int i = 0; i < 6; ++i)
        array.Add(Tracked(i));
    EXPECT_EQ(array.m_nMaxSize, 9u);
    EXPECT_THROW(array.GetAt(6), std::exception);
    EXPECT_THROW(array[6], std::exception);
    EXPECT_THROW(array.GetAt(~0ul), std::exception);
    EXPECT_EQ(array.m_nSize, 6u);
    EXPECT_EQ(array.GetAt(5).value, 5);
    const CAtlArray<Tracked>& constant = array;
    EXPECT_THROW(constant[9], std::exception);
}

TEST(AtlArrayTest, GrowthMovesBytesWithoutCopyingAndDestructorRunsOnce) {
    Tracked::live = 0;
    Tracked::copies = 0;
    {
        CAtlArray<Tracked> array;
        for (int i = 0; i < 100; ++i)
            array.Add(Tracked(i));
        // One copy per Add (into the slot), none when the buffer moved.
        EXPECT_EQ(Tracked::copies, 100);
        EXPECT_EQ(Tracked::live, 100);
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(array[i].value, i);
    }
    EXPECT_EQ(Tracked::live, 0);
}

TEST(AtlArrayTest, FixedGrowByStepAndRefusedGrowth) {
    CAtlArray<int> array;
    array.m_nGrowBy = 10;
    array.Add(1);
    EXPECT_EQ(array.m_nMaxSize, 10u);
    for (int i = 0; i < 10; ++i)
        array.Add(i);
    EXPECT_EQ(array.m_nMaxSize, 20u);
    EXPECT_TRUE(array.GrowBuffer(5)); // already large enough
    EXPECT_EQ(array.m_nMaxSize, 20u);
    int* before = array.m_pData;
    EXPECT_FALSE(array.GrowBuffer(1ul << 40)); // beyond any capacity field
    EXPECT_EQ(array.m_pData, before);
    EXPECT_EQ(array.m_nMaxSize, 20u);
    EXPECT_EQ(array.m_nSize, 11u);
}

} // namespace
