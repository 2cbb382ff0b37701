// The encoding table (numbers, Windows code pages, ICU and IANA names) and the lookup tables
// of the single-byte encodings, built from ICU once, on first use, so that converting them
// never calls ICU again.
#include "platform/cf/CFEncodingTables.h"

#include <algorithm>
#include <mutex>

namespace orvik::cf::encoding {
namespace {

struct EncodingInfo {
    CFStringEncoding encoding;
    UInt32 codepage;  // Windows code page, 0 when none
    const char* icu;  // ICU converter name, NULL for the hand-written ones
    const char* iana; // name for CFStringConvertEncodingToIANACharSetName
};

const EncodingInfo kEncodings[] = {
    {kCFStringEncodingMacRoman, 10000, "macintosh", "macintosh"},
    {kCFStringEncodingUTF8, 65001, nullptr, "UTF-8"},
    {kCFStringEncodingISOLatin1, 28591, nullptr, "ISO-8859-1"},
    {kCFStringEncodingASCII, 20127, nullptr, "US-ASCII"},
    {kCFStringEncodingUTF16, 0, nullptr, "UTF-16"},
    {kCFStringEncodingUTF16LE, 1200, nullptr, "UTF-16LE"},
    {kCFStringEncodingUTF16BE, 1201, nullptr, "UTF-16BE"},
    {kCFStringEncodingUTF32, 0, nullptr, "UTF-32"},
    {kCFStringEncodingUTF32LE, 12000, nullptr, "UTF-32LE"},
    {kCFStringEncodingUTF32BE, 12001, nullptr, "UTF-32BE"},
    {kCFStringEncodingWindowsLatin1, 1252, "windows-1252", "windows-1252"},
    {kCFStringEncodingWindowsLatin2, 1250, "windows-1250", "windows-1250"},
    {kCFStringEncodingWindowsCyrillic, 1251, "windows-1251", "windows-1251"},
    {kCFStringEncodingWindowsGreek, 1253, "windows-1253", "windows-1253"},
    {kCFStringEncodingWindowsLatin5, 1254, "windows-1254", "windows-1254"},
    {kCFStringEncodingWindowsHebrew, 1255, "windows-1255", "windows-1255"},
    {kCFStringEncodingWindowsArabic, 1256, "windows-1256", "windows-1256"},
    {kCFStringEncodingWindowsBalticRim, 1257, "windows-1257", "windows-1257"},
    {kCFStringEncodingWindowsVietnamese, 1258, "windows-1258", "windows-1258"},
    {kCFStringEncodingDOSLatinUS, 437, "ibm-437", "cp437"},
    {kCFStringEncodingDOSGreek, 737, "ibm-737", "cp737"},
    {kCFStringEncodingDOSBalticRim, 775, "ibm-775", "cp775"},
    {kCFStringEncodingDOSLatin1, 850, "ibm-850", "cp850"},
    {kCFStringEncodingDOSGreek1, 851, "ibm-851", "cp851"},
    {kCFStringEncodingDOSLatin2, 852, "ibm-852", "cp852"},
    {kCFStringEncodingDOSCyrillic, 855, "ibm-855", "cp855"},
    {kCFStringEncodingDOSTurkish, 857, "ibm-857", "cp857"},
    {kCFStringEncodingDOSPortuguese, 860, "ibm-860", "cp860"},
    {kCFStringEncodingDOSIcelandic, 861, "ibm-861", "cp861"},
    {kCFStringEncodingDOSHebrew, 862, "ibm-862", "cp862"},
    {kCFStringEncodingDOSCanadianFrench, 863, "ibm-863", "cp863"},
    {kCFStringEncodingDOSArabic, 864, "ibm-864", "cp864"},
    {kCFStringEncodingDOSNordic, 865, "ibm-865", "cp865"},
    {kCFStringEncodingDOSRussian, 866, "ibm-866", "cp866"},
    {kCFStringEncodingDOSGreek2, 869, "ibm-869", "cp869"},
    {kCFStringEncodingDOSThai, 874, "windows-874", "windows-874"},
    {kCFStringEncodingDOSJapanese, 932, "windows-932", "cp932"},
    {kCFStringEncodingDOSChineseSimplif, 936, "windows-936", "GBK"},
    {kCFStringEncodingDOSKorean, 949, "windows-949", "cp949"},
    {kCFStringEncodingDOSChineseTrad, 950, "windows-950", "cp950"},
    {kCFStringEncodingMacGreek, 10006, "x-mac-greek", "x-mac-greek"},
    {kCFStringEncodingMacCyrillic, 10007, "x-mac-cyrillic", "x-mac-cyrillic"},
    {kCFStringEncodingMacCentralEurRoman, 10029, "x-mac-centraleurroman", "x-mac-ce"},
    {kCFStringEncodingMacTurkish, 10081, "x-mac-turkish", "x-mac-turkish"},
    {kCFStringEncodingISOLatin2, 28592, "ISO-8859-2", "ISO-8859-2"},
    {kCFStringEncodingISOLatin3, 28593, "ISO-8859-3", "ISO-8859-3"},
    {kCFStringEncodingISOLatin4, 28594, "ISO-8859-4", "ISO-8859-4"},
    {kCFStringEncodingISOLatinCyrillic, 28595, "ISO-8859-5", "ISO-8859-5"},
    {kCFStringEncodingISOLatinArabic, 28596, "ISO-8859-6", "ISO-8859-6"},
    {kCFStringEncodingISOLatinGreek, 28597, "ISO-8859-7", "ISO-8859-7"},
    {kCFStringEncodingISOLatinHebrew, 28598, "ISO-8859-8", "ISO-8859-8"},
    {kCFStringEncodingISOLatin5, 28599, "ISO-8859-9", "ISO-8859-9"},
    {kCFStringEncodingISOLatin6, 0, "ISO-8859-10", "ISO-8859-10"},
    {kCFStringEncodingISOLatinThai, 0, "ISO-8859-11", "ISO-8859-11"},
    {kCFStringEncodingISOLatin7, 28603, "ISO-8859-13", "ISO-8859-13"},
    {kCFStringEncodingISOLatin8, 0, "ISO-8859-14", "ISO-8859-14"},
    {kCFStringEncodingISOLatin9, 28605, "ISO-8859-15", "ISO-8859-15"},
    {kCFStringEncodingKOI8_R, 20866, "KOI8-R", "KOI8-R"},
    {kCFStringEncodingKOI8_U, 21866, "KOI8-U", "KOI8-U"},
    {kCFStringEncodingShiftJIS, 0, "Shift_JIS", "Shift_JIS"},
    {kCFStringEncodingEUC_JP, 51932, "EUC-JP", "EUC-JP"},
    {kCFStringEncodingEUC_KR, 51949, "EUC-KR", "EUC-KR"},
    {kCFStringEncodingEUC_CN, 0, "GB2312", "GB2312"},
    {kCFStringEncodingGB_18030_2000, 54936, "GB18030", "GB18030"},
    {kCFStringEncodingBig5, 0, "Big5", "Big5"},
    {kCFStringEncodingISO_2022_JP, 50220, "ISO-2022-JP", "ISO-2022-JP"},
};
constexpr size_t kEncodingCount = sizeof(kEncodings) / sizeof(kEncodings[0]);

const EncodingInfo* findEncoding(CFStringEncoding enc) {
    for (const auto& e : kEncodings)
        if (e.encoding == enc)
            return &e;
    return nullptr;
}

struct IcuState {
    std::once_flag once;
    std::atomic<bool> built{false}; // once has run: later calls skip call_once
    bool available = false;
    std::unique_ptr<SingleByteTable> table; // set for a single-byte encoding
};

IcuState gIcu[kEncodingCount];

std::unique_ptr<SingleByteTable> buildSingleByteTable(UConverter* c) {
    auto t = std::make_unique<SingleByteTable>();
    t->fromUnicode = std::make_unique<uint16_t[]>(65536);
    std::fill(t->fromUnicode.get(), t->fromUnicode.get() + 65536, uint16_t(0xFFFF));
    for (int b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        UChar out[4];
        UErrorCode err = U_ZERO_ERROR;
        ucnv_reset(c);
        int32_t n = ucnv_toUChars(c, out, 4, &in, 1, &err);
        t->valid[b] = U_SUCCESS(err) && n == 1;
        t->toUnicode[b] = t->valid[b] ? out[0] : 0;
        if (t->valid[b] && t->fromUnicode[out[0]] == 0xFFFF)
            t->fromUnicode[out[0]] = static_cast<uint16_t>(b);
    }
    t->asciiSame = true;
    for (int b = 0; b < 0x80; ++b)
        t->asciiSame = t->asciiSame && t->valid[b] && t->toUnicode[b] == b;
    return t;
}

void buildIcuState(const EncodingInfo& info, IcuState& st) {
    Converter c = openStopping(info.icu);
    if (c == nullptr)
        return;
    st.available = true;
    if (ucnv_getMaxCharSize(c.get()) == 1 && ucnv_getType(c.get()) == UCNV_SBCS)
        st.table = buildSingleByteTable(c.get());
}

IcuState* icuState(const EncodingInfo* info) {
    if (info == nullptr || info->icu == nullptr)
        return nullptr;
    IcuState& st = gIcu[info - kEncodings];
    if (!st.built.load(std::memory_order_acquire))
        std::call_once(st.once, [&] {
            buildIcuState(*info, st);
            st.built.store(true, std::memory_order_release);
        });
    return st.available ? &st : nullptr;
}

} // namespace

std::atomic<const SingleByteTable*> gMacRomanTable{nullptr};

Converter openStopping(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    Converter c(ucnv_open(name, &err));
    if (U_FAILURE(err))
        return nullptr;
    err = U_ZERO_ERROR;
    ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    ucnv_setFromUCallBack(c.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
    return c;
}

Kind tableKindOf(CFStringEncoding enc, const SingleByteTable** table, const char** icuName) {
    const EncodingInfo* info = findEncoding(enc);
    IcuState* st = icuState(info);
    if (st == nullptr)
        return Kind::Unknown;
    if (st->table != nullptr) {
        *table = st->table.get();
        if (enc == kCFStringEncodingMacRoman)
            gMacRomanTable.store(*table, std::memory_order_release);
        return Kind::SingleByte;
    }
    *icuName = info->icu;
    return Kind::Multi;
}

} // namespace orvik::cf::encoding

using orvik::cf::encoding::findEncoding;
using orvik::cf::encoding::kEncodings;

CFStringEncoding CFStringConvertWindowsCodepageToEncoding(UInt32 codepage) {
    if (codepage == 0)
        return kCFStringEncodingInvalidId;
    for (const auto& e : kEncodings)
        if (e.codepage == codepage)
            return e.encoding;
    return kCFStringEncodingInvalidId;
}

UInt32 CFStringConvertEncodingToWindowsCodepage(CFStringEncoding encoding) {
    const auto* e = findEncoding(encoding);
    return (e != nullptr && e->codepage != 0) ? e->codepage : kCFStringEncodingInvalidId;
}

CFStringRef CFStringConvertEncodingToIANACharSetName(CFStringEncoding encoding) {
    const auto* e = findEncoding(encoding);
    return e != nullptr ? __CFStringMakeConstantString(e->iana) : nullptr;
}
