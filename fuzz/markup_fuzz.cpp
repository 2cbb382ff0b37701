// The markup scanner ends for every input, never moves back, and keeps its two
// run arrays in step.
#include "resources/ResourceManager.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Two bytes per unit, so the scanner sees any UTF-16 text, markup included.
    std::vector<char16_t> units(size / 2);
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const CAtlString text(units.data(), static_cast<int>(units.size()));

    CArray<CAtlString, CAtlString&> textRuns, attributeRuns;
    CAtlString before(u"before");
    textRuns.SetAtGrow(0, before);
    attributeRuns.SetAtGrow(0, before);
    std::vector<int> positions;
    orvik::resources::ScanMarkup(text, &textRuns, &attributeRuns, &positions);

    for (size_t i = 1; i < positions.size(); ++i)
        if (positions[i] <= positions[i - 1])
            abort(); // moved back or stood still
    for (int pos : positions)
        if (pos < 0 || pos > text.GetLength())
            abort();
    if (textRuns.GetSize() != attributeRuns.GetSize() || textRuns.GetSize() < 2)
        abort(); // every step appends one run with its colour, after what was there
    if (!(textRuns[0] == before) || !(attributeRuns[0] == before))
        abort();
    // Runs are pieces of the text: together never longer than it.
    long total = 0;
    for (int i = 1; i < textRuns.GetSize(); ++i)
        total += textRuns[i].GetLength();
    if (total > text.GetLength())
        abort();
    return 0;
}
