// Character sets: members of sets made from a string (bitmap and list), from a range and of
// the predefined sets, at the edges of each.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace cftest;

namespace {

TEST(CFCharacterSet, MembersAtTheEdges) {
    CFRef<CFCharacterSetRef> chars(CFCharacterSetCreateWithCharactersInString(
        nullptr, Str(Make(u"?@\u00FF\u0100\U0001F600\U0001F600\u0101")).get()));
    CFRef<CFCharacterSetRef> digits(
        CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake('0', 10)));
    CFRef<CFCharacterSetRef> last(
        CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake(0x10FFFF, 1)));
    auto predefined = [](int which) {
        return CFCharacterSetGetPredefined(CFCharacterSetPredefinedSet(which));
    };
    const std::tuple<CFCharacterSetRef, UTF32Char, bool> rows[] = {
        {chars.get(), '?', true},      {chars.get(), '@', true},     {chars.get(), 0x100, true},
        {chars.get(), 0x102, false},   {chars.get(), 0x1F600, true}, {chars.get(), 0xD83D, false},
        {digits.get(), '/', false},    {digits.get(), '0', true},    {digits.get(), ':', false},
        {predefined(1), 0x200B, true}, {predefined(2), '\t', true},  {predefined(2), '\n', false},
        {predefined(3), 0x85, true},   {predefined(4), 0x663, true}, {predefined(5), 0x301, true},
        {predefined(6), 'a', true},    {predefined(7), 0x1C5, true}, {predefined(10), 0x301, true},
        {predefined(11), '!', true},   {predefined(11), 'a', false}, {last.get(), 0x10FFFF, true},
        {last.get(), 0x10FFFE, false}, {nullptr, 'a', false},
    };
    for (const auto& [set, c, member] : rows) {
        EXPECT_EQ(bool(CFCharacterSetIsLongCharacterMember(set, c)), member) << std::hex << c;
        if (c <= 0xFFFF) {
            EXPECT_EQ(bool(CFCharacterSetIsCharacterMember(set, UniChar(c))), member) << c;
        }
    }
    for (const CFRange bad : {CFRangeMake(0x10FFFF, 2), CFRangeMake(-1, 2), CFRangeMake(0, -1)})
        EXPECT_EQ(CFCharacterSetCreateWithCharactersInRange(nullptr, bad), nullptr);
    for (int which : {0, 8, 9, 12})
        EXPECT_EQ(predefined(which), nullptr) << which;
}

} // namespace
