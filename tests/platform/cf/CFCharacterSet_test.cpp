// Character sets: members of sets made from a string (bitmap and list), from a range and of
// the predefined sets, at the edges of each.
#include "tests/platform/CFTestSupport.h"

#include <gtest/gtest.h>

using namespace cftest;

namespace {

TEST(CFCharacterSet, MembersAtTheEdges) {
    CFRef<CFCharacterSetRef> chars(CFCharacterSetCreateWithCharactersInString(
        nullptr, Str(Make(u"?@\u00FF\u0100\uFFFF\U0001F600\U0001F600\u0101")).get()));
    CFRef<CFCharacterSetRef> digits(
        CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake('0', 10)));
    CFRef<CFCharacterSetRef> none(
        CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake('0', 0)));
    CFCharacterSetRef space = CFCharacterSetGetPredefined(kCFCharacterSetWhitespace);
    CFCharacterSetRef newline = CFCharacterSetGetPredefined(kCFCharacterSetWhitespaceAndNewline);
    CFCharacterSetRef decimal = CFCharacterSetGetPredefined(kCFCharacterSetDecimalDigit);
    CFCharacterSetRef letter = CFCharacterSetGetPredefined(kCFCharacterSetLetter);
    CFCharacterSetRef upper = CFCharacterSetGetPredefined(kCFCharacterSetUppercaseLetter);
    CFCharacterSetRef punct = CFCharacterSetGetPredefined(kCFCharacterSetPunctuation);
    struct Row {
        CFCharacterSetRef set;
        UTF32Char c;
        bool member;
    } rows[] = {
        {chars.get(), '?', true},     {chars.get(), '@', true},      {chars.get(), '>', false},
        {chars.get(), 'A', false},    {chars.get(), 0x7F, false},    {chars.get(), 0xFF, true},
        {chars.get(), 0xFE, false},   {chars.get(), 0x100, true},    {chars.get(), 0x101, true},
        {chars.get(), 0x102, false},  {chars.get(), 0xFFFF, true},   {chars.get(), 0x1F600, true},
        {chars.get(), 0xD83D, false}, {chars.get(), 0x1F601, false}, {digits.get(), '/', false},
        {digits.get(), '0', true},    {digits.get(), '9', true},     {digits.get(), ':', false},
        {none.get(), '0', false},     {none.get(), 0, false},        {space, '\t', true},
        {space, '\n', false},         {space, 0xA0, true},           {newline, '\n', true},
        {newline, 0x85, true},        {newline, 'x', false},         {decimal, 0x663, true},
        {decimal, 'a', false},        {letter, 0x301, true},         {letter, '1', false},
        {upper, 0x1C5, true},         {upper, 'a', false},           {punct, '!', true},
        {punct, 'a', false},          {nullptr, 'a', false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bool(CFCharacterSetIsLongCharacterMember(row.set, row.c)), row.member)
            << "row " << &row - rows;
        if (row.c <= 0xFFFF) {
            EXPECT_EQ(bool(CFCharacterSetIsCharacterMember(row.set, UniChar(row.c))), row.member)
                << "row " << &row - rows;
        }
    }
    EXPECT_EQ(CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake(0x10FFFF, 2)),
              nullptr);
    EXPECT_NE(CFRef<CFCharacterSetRef>(
                  CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake(0x10FFFF, 1)))
                  .get(),
              nullptr);
    EXPECT_EQ(CFCharacterSetCreateWithCharactersInRange(nullptr, CFRangeMake(-1, 2)), nullptr);
    EXPECT_EQ(CFCharacterSetCreateWithCharactersInString(nullptr, nullptr), nullptr);
    for (int which : {0, 8, 9, 12}) {
        EXPECT_EQ(CFCharacterSetGetPredefined(CFCharacterSetPredefinedSet(which)), nullptr)
            << which;
    }
    EXPECT_EQ(CFGetTypeID(space), CFCharacterSetGetTypeID());
}

} // namespace
