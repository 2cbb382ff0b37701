// The object model: type registry, reference counts, equality, hashing, descriptions,
// and the allocators.
#include "platform/CFRef.h"
#include "platform/cf/CFInternal.h"

#include <atomic>
#include <cstdio>
#include <string>

using namespace orvik::cf;

namespace {

constexpr CFTypeID kMaxTypes = 256;

// Built-in types sit at fixed ids; registered ones are appended after them.
const CFRuntimeClass* gClasses[kMaxTypes] = {
    nullptr,           &kAllocatorClass,    &kStringClass,  &kArrayClass,
    &kDictionaryClass, &kNumberClass,       &kBooleanClass, &kDataClass,
    &kDateClass,       &kCharacterSetClass, &kURLClass,     &kNullClass,
};
std::atomic<CFTypeID> gNextTypeID{kFirstDynamicTypeID};

const CFRuntimeClass* classOf(CFTypeRef cf) {
    CFTypeID id = static_cast<const CFRuntimeBase*>(cf)->typeID;
    return id < kMaxTypes ? gClasses[id] : nullptr;
}

CFRuntimeBase* base(CFTypeRef cf) {
    return const_cast<CFRuntimeBase*>(static_cast<const CFRuntimeBase*>(cf));
}

} // namespace

CFTypeID _CFRuntimeRegisterClass(const CFRuntimeClass* cls) {
    if (cls == nullptr)
        return 0;
    CFTypeID id = gNextTypeID.fetch_add(1);
    if (id >= kMaxTypes)
        return 0;
    gClasses[id] = cls;
    return id;
}

CFTypeRef _CFRuntimeCreateInstance(CFAllocatorRef, CFTypeID typeID, CFIndex size) {
    if (typeID == 0 || typeID >= kMaxTypes || gClasses[typeID] == nullptr ||
        size < static_cast<CFIndex>(sizeof(CFRuntimeBase)))
        return nullptr;
    return allocObject(typeID, static_cast<size_t>(size));
}

void* orvik::cf::allocObject(CFTypeID id, size_t size) {
    void* p = std::calloc(1, size);
    if (p == nullptr)
        throw std::bad_alloc();
    auto* b = static_cast<CFRuntimeBase*>(p);
    b->typeID = id;
    new (&b->refCount) std::atomic<int32_t>(1);
    return p;
}

CFTypeRef CFRetain(CFTypeRef cf) {
    if (cf == nullptr)
        return nullptr;
    auto& rc = base(cf)->refCount;
    if (rc.load(std::memory_order_relaxed) >= 0)
        rc.fetch_add(1, std::memory_order_relaxed);
    return cf;
}

void CFRelease(CFTypeRef cf) {
    if (cf == nullptr)
        return;
    auto& rc = base(cf)->refCount;
    int32_t count = rc.load(std::memory_order_acquire);
    if (count < 0)
        return; // immortal
    // With a count of 1 the caller holds the only reference, so no other thread can
    // touch the count any more: the locked decrement is skipped for the common case of
    // a short-lived object.
    if (count != 1 && rc.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    if (base(cf)->typeID == kStringTypeID) {
        destroyString(static_cast<__CFString*>(const_cast<void*>(cf)));
        return;
    }
    const CFRuntimeClass* cls = classOf(cf);
    if (cls != nullptr && cls->finalize != nullptr)
        cls->finalize(cf);
    std::free(const_cast<void*>(cf));
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
    if (cf == nullptr)
        return 0;
    int32_t rc = base(cf)->refCount.load(std::memory_order_relaxed);
    return rc < 0 ? INT32_MAX : rc;
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return cf ? static_cast<const CFRuntimeBase*>(cf)->typeID : 0;
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    if (cf1 == cf2)
        return true;
    if (cf1 == nullptr || cf2 == nullptr || CFGetTypeID(cf1) != CFGetTypeID(cf2))
        return false;
    const CFRuntimeClass* cls = classOf(cf1);
    return cls != nullptr && cls->equal != nullptr && cls->equal(cf1, cf2);
}

CFHashCode CFHash(CFTypeRef cf) {
    if (cf == nullptr)
        return 0;
    const CFRuntimeClass* cls = classOf(cf);
    if (cls != nullptr && cls->hash != nullptr)
        return cls->hash(cf);
    return reinterpret_cast<CFHashCode>(cf);
}

CFStringRef CFCopyTypeIDDescription(CFTypeID typeID) {
    if (typeID == 0 || typeID >= kMaxTypes || gClasses[typeID] == nullptr)
        return nullptr;
    return CFStringCreateWithCString(nullptr, gClasses[typeID]->className, kCFStringEncodingUTF8);
}

CFStringRef orvik::cf::copyDescription(CFTypeRef cf) {
    if (cf == nullptr)
        return CFStringCreateWithCString(nullptr, "(null)", kCFStringEncodingASCII);
    const CFRuntimeClass* cls = classOf(cf);
    if (cls != nullptr && cls->copyDebugDesc != nullptr) {
        if (CFStringRef s = cls->copyDebugDesc(cf))
            return s;
    }
    char buf[128];
    std::snprintf(buf, sizeof buf, "<%s %p>", cls ? cls->className : "CFType", cf);
    return CFStringCreateWithCString(nullptr, buf, kCFStringEncodingUTF8);
}

CFStringRef CFCopyDescription(CFTypeRef cf) {
    return cf ? copyDescription(cf) : nullptr;
}

void CFShow(CFTypeRef cf) {
    const orvik::CFRef<CFStringRef> description(copyDescription(cf));
    CFStringRef d = description.get();
    CFIndex n = CFStringGetLength(d);
    CFIndex need = 0;
    CFStringGetBytes(d, CFRangeMake(0, n), kCFStringEncodingUTF8, '?', false, nullptr, 0, &need);
    std::string out(static_cast<size_t>(need), '\0');
    CFStringGetBytes(d, CFRangeMake(0, n), kCFStringEncodingUTF8, '?', false,
                     reinterpret_cast<UInt8*>(out.data()), need, &need);
    std::fprintf(stderr, "%s\n", out.c_str());
}

// ---------------------------------------------------------------------------------------
// Allocators
// ---------------------------------------------------------------------------------------

struct __CFAllocator {
    CFRuntimeBase base;
    int kind; // 0 malloc, 1 null, 2 context, 3 use-context marker
    CFAllocatorContext context;
};

namespace {

enum { kMallocKind, kNullKind, kContextKind, kUseContextKind };

__CFAllocator gSystemAllocator{{kAllocatorTypeID, kImmortal}, kMallocKind, {}};
__CFAllocator gMallocAllocator{{kAllocatorTypeID, kImmortal}, kMallocKind, {}};
__CFAllocator gNullAllocator{{kAllocatorTypeID, kImmortal}, kNullKind, {}};
__CFAllocator gUseContextAllocator{{kAllocatorTypeID, kImmortal}, kUseContextKind, {}};

void finalizeAllocator(CFTypeRef cf) {
    auto* a = static_cast<const __CFAllocator*>(cf);
    if (a->context.release != nullptr)
        a->context.release(a->context.info);
}

} // namespace

const CFRuntimeClass orvik::cf::kAllocatorClass = {"CFAllocator", finalizeAllocator, nullptr,
                                                   nullptr, nullptr};

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFAllocatorRef kCFAllocatorSystemDefault = &gSystemAllocator;
const CFAllocatorRef kCFAllocatorMalloc = &gMallocAllocator;
const CFAllocatorRef kCFAllocatorNull = &gNullAllocator;
const CFAllocatorRef kCFAllocatorUseContext = &gUseContextAllocator;

CFTypeID CFAllocatorGetTypeID(void) {
    return kAllocatorTypeID;
}
CFAllocatorRef CFAllocatorGetDefault(void) {
    return kCFAllocatorSystemDefault;
}

CFAllocatorRef CFAllocatorCreate(CFAllocatorRef, CFAllocatorContext* context) {
    if (context == nullptr)
        return nullptr;
    auto* a = static_cast<__CFAllocator*>(allocObject(kAllocatorTypeID, sizeof(__CFAllocator)));
    a->kind = kContextKind;
    a->context = *context;
    if (context->retain != nullptr)
        a->context.info = const_cast<void*>(context->retain(context->info));
    return a;
}

void* CFAllocatorAllocate(CFAllocatorRef allocator, CFIndex size, CFOptionFlags hint) {
    if (size <= 0)
        return nullptr;
    if (allocator == nullptr || allocator->kind == kMallocKind)
        return std::malloc(static_cast<size_t>(size));
    if (allocator->kind == kContextKind && allocator->context.allocate != nullptr)
        return allocator->context.allocate(size, hint, allocator->context.info);
    return nullptr;
}

void CFAllocatorDeallocate(CFAllocatorRef allocator, void* ptr) {
    deallocateWith(allocator, ptr);
}

bool orvik::cf::isNullAllocator(CFAllocatorRef a) {
    return a != nullptr && a->kind == kNullKind;
}

void orvik::cf::deallocateWith(CFAllocatorRef a, void* ptr) {
    if (ptr == nullptr)
        return;
    if (a == nullptr || a->kind == kMallocKind) {
        std::free(ptr);
        return;
    }
    if (a->kind == kContextKind && a->context.deallocate != nullptr)
        a->context.deallocate(ptr, a->context.info);
}
