#include "resources/ResourceManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using StringArray = CArray<CAtlString, CAtlString&>;

std::string Joined(const StringArray& array) {
    std::string out;
    for (int i = 0; i < array.GetSize(); ++i)
        out += CAtlStringA(array[i]).GetString() + std::string("|");
    return out;
}

// Runs and their colours; malformed markup stays text, one black run to the end. Every
// step starts further on than the one before, so every scan ends.
TEST(ScanMarkup, RunsColoursAndMalformedMarkup) {
    const struct {
        const char16_t* text;
        const char *runs, *colours;
    } rows[] = {{u"Press <.color=red.>Stop<./color.> now", "Press |Stop| now|", "black|red|black|"},
                {u"<.color=red.>Stop<./color.>", "Stop||", "red|black|"},
                {u"", "|", "black|"},
                {u"a<.color=blue.>rest of it", "a|rest of it|", "black|blue|"},
                {u"<.Color=red.>x<./Color.>", "red.>x||", "|black|"},
                {u"a<.size=3.>b<./size.>c", "a|3.>b|c|", "black|black|black|"},
                {u"<.color=red.>r<./color.><.color=green.>g<./x.>", "r|g||", "red|green|black|"},
                {u"x<.color", "x|<.color|", "black|black|"},
                {u"<.color=red", "<.color=red|", "black|"},
                {u"<.color=red.>t<./color", "t|<./color|", "red|black|"}};
    for (const auto& row : rows) {
        StringArray runs, colours;
        std::vector<int> positions;
        orvik::resources::ScanMarkup(CAtlString(row.text), &runs, &colours, &positions);
        EXPECT_EQ(Joined(runs), row.runs) << CAtlStringA(CAtlString(row.text)).GetString();
        EXPECT_EQ(Joined(colours), row.colours) << CAtlStringA(CAtlString(row.text)).GetString();
        for (size_t i = 1; i < positions.size(); ++i)
            EXPECT_GT(positions[i], positions[i - 1]);
    }
    StringArray runs;
    orvik::resources::ScanMarkup(CAtlString(u"a<.color=red.>b"), &runs, nullptr);
    EXPECT_EQ(Joined(runs), "a|b|");
}

} // namespace
