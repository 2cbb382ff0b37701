// Value objects: numbers, booleans, null, data and dates.
#include "platform/cf/CFInternal.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>

using namespace orvik::cf;

// ---------------------------------------------------------------------------------------
// Numbers: every integer type is kept as SInt64, every floating type as Float64.
// ---------------------------------------------------------------------------------------

struct __CFNumber {
    CFRuntimeBase base;
    bool isFloat;
    SInt64 i;
    Float64 d;
};

namespace {

CFStringRef describeNumber(CFTypeRef cf) {
    auto* n = static_cast<CFNumberRef>(cf);
    char buf[64];
    if (n->isFloat)
        std::snprintf(buf, sizeof buf, "%.17g", n->d);
    else
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n->i));
    return CFStringCreateWithCString(nullptr, buf, kCFStringEncodingASCII);
}

Boolean equalNumbers(CFTypeRef a, CFTypeRef b) {
    return CFNumberCompare(static_cast<CFNumberRef>(a), static_cast<CFNumberRef>(b), nullptr) ==
           kCFCompareEqualTo;
}

CFHashCode hashNumber(CFTypeRef cf) {
    auto* n = static_cast<CFNumberRef>(cf);
    // Integral doubles hash like the integer of the same value (they compare equal).
    if (n->isFloat) {
        if (std::trunc(n->d) == n->d && std::fabs(n->d) < 9.2e18)
            return static_cast<CFHashCode>(static_cast<SInt64>(n->d));
        SInt64 bits;
        std::memcpy(&bits, &n->d, sizeof bits);
        return static_cast<CFHashCode>(bits);
    }
    return static_cast<CFHashCode>(n->i);
}

bool isFloatType(CFNumberType t) {
    return t == kCFNumberFloat32Type || t == kCFNumberFloat64Type || t == kCFNumberFloatType ||
           t == kCFNumberDoubleType || t == kCFNumberCGFloatType;
}

template <class T> bool storeInt(SInt64 v, void* out) {
    T t = static_cast<T>(v);
    std::memcpy(out, &t, sizeof t);
    return static_cast<SInt64>(t) == v;
}

template <class T> bool storeFromDouble(double d, void* out) {
    bool ok = std::isfinite(d) && d >= static_cast<double>(std::numeric_limits<T>::min()) &&
              d <= static_cast<double>(std::numeric_limits<T>::max());
    T t = ok ? static_cast<T>(d)
             : (d > 0 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min());
    if (std::isnan(d))
        t = 0;
    std::memcpy(out, &t, sizeof t);
    return ok && static_cast<double>(t) == d;
}

} // namespace

const CFRuntimeClass orvik::cf::kNumberClass = {"CFNumber", nullptr, equalNumbers, hashNumber,
                                                describeNumber};

CFTypeID CFNumberGetTypeID(void) {
    return kNumberTypeID;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
    if (valuePtr == nullptr || theType < kCFNumberSInt8Type || theType > kCFNumberMaxType)
        return nullptr;
    auto* n = static_cast<__CFNumber*>(allocObject(kNumberTypeID, sizeof(__CFNumber)));
    auto read = [&](auto sample) {
        decltype(sample) v;
        std::memcpy(&v, valuePtr, sizeof v);
        return v;
    };
    switch (theType) {
    case kCFNumberSInt8Type:
        n->i = read(SInt8{});
        break;
    case kCFNumberCharType:
        n->i = read(static_cast<signed char>(0));
        break;
    case kCFNumberSInt16Type:
        n->i = read(SInt16{});
        break;
    case kCFNumberShortType:
        n->i = read(short{});
        break;
    case kCFNumberSInt32Type:
        n->i = read(SInt32{});
        break;
    case kCFNumberIntType:
        n->i = read(int{});
        break;
    case kCFNumberSInt64Type:
        n->i = read(SInt64{});
        break;
    case kCFNumberLongType:
        n->i = read(long{});
        break;
    case kCFNumberLongLongType:
        n->i = read(static_cast<long long>(0));
        break;
    case kCFNumberCFIndexType:
        n->i = read(CFIndex{});
        break;
    case kCFNumberNSIntegerType:
        n->i = read(long{});
        break;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        n->d = read(float{}), n->isFloat = true;
        break;
    default:
        n->d = read(double{}), n->isFloat = true;
        break;
    }
    return n;
}

CFNumberType CFNumberGetType(CFNumberRef number) {
    if (!isType(number, kNumberTypeID))
        return 0;
    return number->isFloat ? kCFNumberFloat64Type : kCFNumberSInt64Type;
}

CFIndex CFNumberGetByteSize(CFNumberRef number) {
    return isType(number, kNumberTypeID) ? 8 : 0;
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
    return isType(number, kNumberTypeID) && number->isFloat;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    if (!isType(number, kNumberTypeID) || valuePtr == nullptr || theType < kCFNumberSInt8Type ||
        theType > kCFNumberMaxType)
        return false;
    if (isFloatType(theType)) {
        double d = number->isFloat ? number->d : static_cast<double>(number->i);
        bool exact = number->isFloat || static_cast<SInt64>(d) == number->i;
        if (theType == kCFNumberFloat32Type || theType == kCFNumberFloatType) {
            float f = static_cast<float>(d);
            std::memcpy(valuePtr, &f, sizeof f);
            return exact && (std::isnan(d) || static_cast<double>(f) == d);
        }
        std::memcpy(valuePtr, &d, sizeof d);
        return exact;
    }
    if (number->isFloat) {
        switch (theType) {
        case kCFNumberSInt8Type:
        case kCFNumberCharType:
            return storeFromDouble<SInt8>(number->d, valuePtr);
        case kCFNumberSInt16Type:
        case kCFNumberShortType:
            return storeFromDouble<SInt16>(number->d, valuePtr);
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
            return storeFromDouble<SInt32>(number->d, valuePtr);
        default:
            return storeFromDouble<SInt64>(number->d, valuePtr);
        }
    }
    switch (theType) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        return storeInt<SInt8>(number->i, valuePtr);
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        return storeInt<SInt16>(number->i, valuePtr);
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        return storeInt<SInt32>(number->i, valuePtr);
    default:
        return storeInt<SInt64>(number->i, valuePtr);
    }
}

CFComparisonResult CFNumberCompare(CFNumberRef a, CFNumberRef b, void*) {
    if (!isType(a, kNumberTypeID) || !isType(b, kNumberTypeID))
        return kCFCompareEqualTo;
    if (!a->isFloat && !b->isFloat)
        return a->i < b->i ? kCFCompareLessThan
                           : (a->i > b->i ? kCFCompareGreaterThan : kCFCompareEqualTo);
    double x = a->isFloat ? a->d : static_cast<double>(a->i);
    double y = b->isFloat ? b->d : static_cast<double>(b->i);
    return x < y ? kCFCompareLessThan : (x > y ? kCFCompareGreaterThan : kCFCompareEqualTo);
}

// ---------------------------------------------------------------------------------------
// Booleans and null: immortal constants.
// ---------------------------------------------------------------------------------------

struct __CFBoolean {
    CFRuntimeBase base;
    bool value;
};
struct __CFNull {
    CFRuntimeBase base;
};

namespace {
__CFBoolean gTrue{{kBooleanTypeID, kImmortal}, true};
__CFBoolean gFalse{{kBooleanTypeID, kImmortal}, false};
__CFNull gNull{{kNullTypeID, kImmortal}};

CFStringRef describeBoolean(CFTypeRef cf) {
    return CFStringCreateWithCString(
        nullptr, static_cast<CFBooleanRef>(cf)->value ? "true" : "false", kCFStringEncodingASCII);
}
CFStringRef describeNull(CFTypeRef) {
    return CFStringCreateWithCString(nullptr, "<CFNull>", kCFStringEncodingASCII);
}
} // namespace

const CFRuntimeClass orvik::cf::kBooleanClass = {"CFBoolean", nullptr, nullptr, nullptr,
                                                 describeBoolean};
const CFRuntimeClass orvik::cf::kNullClass = {"CFNull", nullptr, nullptr, nullptr, describeNull};

const CFBooleanRef kCFBooleanTrue = &gTrue;
const CFBooleanRef kCFBooleanFalse = &gFalse;
const CFNullRef kCFNull = &gNull;

CFTypeID CFBooleanGetTypeID(void) {
    return kBooleanTypeID;
}
CFTypeID CFNullGetTypeID(void) {
    return kNullTypeID;
}
Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    return isType(boolean, kBooleanTypeID) && boolean->value;
}

// ---------------------------------------------------------------------------------------
// Data
// ---------------------------------------------------------------------------------------

struct __CFData {
    CFRuntimeBase base;
    UInt8* bytes;
    CFIndex length;
    CFIndex capacity;       // mutable: allocated; 0 for immutable
    CFIndex maxLength;      // mutable: 0 unlimited
    CFAllocatorRef dealloc; // NoCopy: how bytes are freed
    bool isMutable;
    bool ownsBytes; // bytes freed with free() (copies and mutable data)
    bool noCopy;    // bytes freed with dealloc
};

namespace {

void finalizeData(CFTypeRef cf) {
    auto* d = static_cast<const __CFData*>(cf);
    if (d->ownsBytes)
        std::free(d->bytes);
    else if (d->noCopy)
        deallocateWith(d->dealloc, d->bytes);
}

Boolean equalData(CFTypeRef a, CFTypeRef b) {
    auto* x = static_cast<CFDataRef>(a);
    auto* y = static_cast<CFDataRef>(b);
    return x->length == y->length &&
           (x->length == 0 || std::memcmp(x->bytes, y->bytes, static_cast<size_t>(x->length)) == 0);
}

CFHashCode hashData(CFTypeRef cf) {
    auto* d = static_cast<CFDataRef>(cf);
    uint64_t h = 1469598103934665603ull;
    for (CFIndex i = 0; i < d->length; ++i)
        h = (h ^ d->bytes[i]) * 1099511628211ull;
    return static_cast<CFHashCode>(h);
}

CFStringRef describeData(CFTypeRef cf) {
    auto* d = static_cast<CFDataRef>(cf);
    std::string s = "<";
    char hex[3];
    for (CFIndex i = 0; i < d->length; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", d->bytes[i]);
        s += hex;
    }
    s += ">";
    return CFStringCreateWithCString(nullptr, s.c_str(), kCFStringEncodingASCII);
}

__CFData* newData() {
    return static_cast<__CFData*>(allocObject(kDataTypeID, sizeof(__CFData)));
}

bool growData(__CFData* d, CFIndex needed) {
    if (d->maxLength > 0 && needed > d->maxLength)
        return false;
    if (needed <= d->capacity)
        return true;
    CFIndex cap = std::max<CFIndex>(needed, d->capacity * 2);
    cap = std::max<CFIndex>(cap, 16);
    auto* p = static_cast<UInt8*>(std::realloc(d->bytes, static_cast<size_t>(cap)));
    if (p == nullptr)
        throw std::bad_alloc();
    d->bytes = p;
    d->capacity = cap;
    return true;
}

__CFData* mutData(CFMutableDataRef d) {
    return (isType(d, kDataTypeID) && d->isMutable) ? d : nullptr;
}

} // namespace

const CFRuntimeClass orvik::cf::kDataClass = {"CFData", finalizeData, equalData, hashData,
                                              describeData};

CFTypeID CFDataGetTypeID(void) {
    return kDataTypeID;
}

CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length) {
    if (length < 0 || (length > 0 && bytes == nullptr))
        return nullptr;
    __CFData* d = newData();
    if (length > 0) {
        d->bytes = static_cast<UInt8*>(std::malloc(static_cast<size_t>(length)));
        if (d->bytes == nullptr) {
            CFRelease(d);
            throw std::bad_alloc();
        }
        std::memcpy(d->bytes, bytes, static_cast<size_t>(length));
        d->ownsBytes = true;
    }
    d->length = length;
    return d;
}

CFDataRef CFDataCreateWithBytesNoCopy(CFAllocatorRef, const UInt8* bytes, CFIndex length,
                                      CFAllocatorRef bytesDeallocator) {
    if (length < 0 || (length > 0 && bytes == nullptr))
        return nullptr;
    __CFData* d = newData();
    d->bytes = const_cast<UInt8*>(bytes);
    d->length = length;
    d->dealloc = bytesDeallocator;
    d->noCopy = !isNullAllocator(bytesDeallocator);
    return d;
}

CFDataRef CFDataCreateCopy(CFAllocatorRef alloc, CFDataRef theData) {
    if (!isType(theData, kDataTypeID))
        return nullptr;
    return CFDataCreate(alloc, theData->bytes, theData->length);
}

CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) {
    __CFData* d = newData();
    d->isMutable = true;
    d->ownsBytes = true;
    d->maxLength = capacity > 0 ? capacity : 0;
    growData(d, 1);
    return d;
}

CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef alloc, CFIndex capacity,
                                         CFDataRef theData) {
    CFMutableDataRef d = CFDataCreateMutable(alloc, capacity);
    if (isType(theData, kDataTypeID) && theData->length > 0) {
        if (!growData(d, theData->length)) {
            CFRelease(d);
            return nullptr;
        }
        CFDataAppendBytes(d, theData->bytes, theData->length);
    }
    return d;
}

CFIndex CFDataGetLength(CFDataRef theData) {
    return isType(theData, kDataTypeID) ? theData->length : 0;
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
    return isType(theData, kDataTypeID) ? theData->bytes : nullptr;
}

UInt8* CFDataGetMutableBytePtr(CFMutableDataRef theData) {
    __CFData* d = mutData(theData);
    return d ? d->bytes : nullptr;
}

void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8* buffer) {
    if (!isType(theData, kDataTypeID) || buffer == nullptr || !validRange(range, theData->length) ||
        range.length == 0)
        return;
    std::memcpy(buffer, theData->bytes + range.location, static_cast<size_t>(range.length));
}

void CFDataSetLength(CFMutableDataRef theData, CFIndex length) {
    __CFData* d = mutData(theData);
    if (d == nullptr || length < 0 || !growData(d, length))
        return;
    if (length > d->length)
        std::memset(d->bytes + d->length, 0, static_cast<size_t>(length - d->length));
    d->length = length;
}

void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length) {
    __CFData* d = mutData(theData);
    if (d == nullptr || bytes == nullptr || length <= 0)
        return;
    // The bytes may lie inside our own buffer, which growing may move.
    std::string tmp;
    if (bytes >= d->bytes && bytes < d->bytes + d->capacity) {
        tmp.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
        bytes = reinterpret_cast<const UInt8*>(tmp.data());
    }
    if (!growData(d, d->length + length))
        return;
    std::memcpy(d->bytes + d->length, bytes, static_cast<size_t>(length));
    d->length += length;
}

// ---------------------------------------------------------------------------------------
// Dates
// ---------------------------------------------------------------------------------------

struct __CFDate {
    CFRuntimeBase base;
    CFAbsoluteTime at;
};

namespace {

Boolean equalDates(CFTypeRef a, CFTypeRef b) {
    return static_cast<CFDateRef>(a)->at == static_cast<CFDateRef>(b)->at;
}

CFHashCode hashDate(CFTypeRef cf) {
    return static_cast<CFHashCode>(static_cast<SInt64>(static_cast<CFDateRef>(cf)->at));
}

CFStringRef describeDate(CFTypeRef cf) {
    double unix = static_cast<CFDateRef>(cf)->at + kCFAbsoluteTimeIntervalSince1970;
    std::time_t t = static_cast<std::time_t>(std::floor(unix));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return CFStringCreateWithCString(nullptr, buf, kCFStringEncodingASCII);
}

} // namespace

const CFRuntimeClass orvik::cf::kDateClass = {"CFDate", nullptr, equalDates, hashDate,
                                              describeDate};

CFAbsoluteTime CFAbsoluteTimeGetCurrent(void) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9 - kCFAbsoluteTimeIntervalSince1970;
}

CFTypeID CFDateGetTypeID(void) {
    return kDateTypeID;
}

CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at) {
    auto* d = static_cast<__CFDate*>(allocObject(kDateTypeID, sizeof(__CFDate)));
    d->at = at;
    return d;
}

CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate) {
    return isType(theDate, kDateTypeID) ? theDate->at : 0.0;
}

CFComparisonResult CFDateCompare(CFDateRef a, CFDateRef b, void*) {
    double x = CFDateGetAbsoluteTime(a), y = CFDateGetAbsoluteTime(b);
    return x < y ? kCFCompareLessThan : (x > y ? kCFCompareGreaterThan : kCFCompareEqualTo);
}
