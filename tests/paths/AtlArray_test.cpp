#include "paths/AtlArray.h"

#include <gtest/gtest.h>

namespace {

// Counts live objects and copies: growth must move bytes, never copy or destroy.
struct Tracked {
    static int live, copies;
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

TEST(AtlArrayTest, AddIndexesBoundsAndOneCopyPerElement) {
    Tracked::live = Tracked::copies = 0;
    {
        CAtlArray<Tracked> array;
        for (int i = 0; i < 100; ++i)
            ASSERT_EQ(array.Add(Tracked(i)), static_cast<unsigned long>(i));
        EXPECT_EQ(Tracked::copies, 100);
        EXPECT_EQ(Tracked::live, 100);
        EXPECT_EQ(array.GetAt(99).value, 99);
        EXPECT_THROW(array.GetAt(100), std::exception);
        const CAtlArray<Tracked>& constant = array;
        EXPECT_EQ(constant[99].value, 99);
        EXPECT_THROW(constant[100], std::exception);
    }
    EXPECT_EQ(Tracked::live, 0);
}

// The automatic step is count / 8, but at least 4 and at most 1024; growth beyond one step
// takes exactly the size asked for, and a size no capacity field holds is refused.
TEST(AtlArrayTest, AutomaticStepFollowsTheCount) {
    CAtlArray<int> array;
    for (auto [count, capacity] : {std::pair{26ul, 29u}, {42ul, 46u}}) { // grown at 25 and 41
        while (array.GetCount() < count)
            array.Add(0);
        EXPECT_EQ(array.m_nMaxSize, capacity) << count;
    }

    EXPECT_TRUE(array.GrowBuffer(10000));
    EXPECT_EQ(array.m_nMaxSize, 10000u);
    while (array.GetCount() <= 10000)
        array.Add(0);
    EXPECT_EQ(array.m_nMaxSize, 11024u);
    int* before = array.m_pData;
    EXPECT_FALSE(array.GrowBuffer(1ul << 40));
    EXPECT_EQ(array.m_pData, before);
}

} // namespace
