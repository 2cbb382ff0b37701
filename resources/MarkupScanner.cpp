// The colour-markup scan of translated texts.
//
// Every step starts further on than the one before: a plain run ends where the
// next markup starts, a markup step ends after its closing ".>", and
// malformed markup ends the scan. So the scan ends for every input.
#include "resources/ResourceManager.h"

namespace orvik::resources {

void ScanMarkup(const CAtlString& text, CArray<CAtlString, CAtlString&>* textRuns,
                CArray<CAtlString, CAtlString&>* attributeRuns, std::vector<int>* positions) {
    CAtlString black(u"black");
    CAtlString current; // empty until the first plain run
    auto append = [&](CAtlString run, CAtlString& attribute) {
        if (textRuns != nullptr)
            textRuns->SetAtGrow(textRuns->GetSize(), run);
        if (attributeRuns != nullptr)
            attributeRuns->SetAtGrow(attributeRuns->GetSize(), attribute);
    };
    // Malformed markup from `at` on: kept as text, one black run to the end.
    auto keepRestAsText = [&](int at) {
        current = black;
        append(text.Mid(at), black);
    };

    int pos = 0;
    while (pos >= 0) {
        if (positions != nullptr)
            positions->push_back(pos);
        const int open = text.Find(u"<.", pos);
        if (open != pos) {
            // Plain text up to the next markup or the end.
            current = black;
            append(open == -1 ? text.Mid(pos) : text.Mid(pos, open - pos), black);
            pos = open;
            continue;
        }
        const int nameStart = pos + 2;
        const int eq = text.Find(u'=', nameStart);
        if (eq < 0) {
            keepRestAsText(pos);
            break;
        }
        const CAtlString name = text.Mid(nameStart, eq - nameStart);
        int textStart = eq + 1;
        if (name == CAtlString(u"color")) {
            const int close = text.Find(u".>", textStart);
            if (close < 0) {
                keepRestAsText(pos);
                break;
            }
            current = text.Mid(textStart, close - textStart);
            textStart = close + 2;
        }
        const int end = text.Find(u"<./", textStart);
        if (end < 0) {
            append(text.Mid(textStart), current);
            break;
        }
        append(text.Mid(textStart, end - textStart), current);
        const int closeEnd = text.Find(u".>", end + 3);
        if (closeEnd < 0) {
            keepRestAsText(end);
            break;
        }
        pos = closeEnd + 2;
    }
}

} // namespace orvik::resources
