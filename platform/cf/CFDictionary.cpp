// CFDictionary: an open-addressing hash table (linear probing, at most half full) whose
// slots hold what the key and value retain callbacks returned.
#include "platform/cf/CFCollectionsInternal.h"
#include "platform/cf/CFInternal.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace orvik::cf;

// ---------------------------------------------------------------------------------------
// Dictionaries
// ---------------------------------------------------------------------------------------

namespace {

enum : uint8_t { kEmpty = 0, kUsed = 1, kDeleted = 2 };

struct Slot {
    const void* key;
    const void* value;
    CFHashCode hash;
    uint8_t state;
};

} // namespace

struct __CFDictionary {
    CFRuntimeBase base;
    Slot* slots;
    CFIndex slotCount; // a power of two, or 0
    CFIndex count;
    CFIndex used; // used + deleted slots
    CFIndex maxCount;
    CFDictionaryKeyCallBacks kcb;
    CFDictionaryValueCallBacks vcb;
    bool isMutable;
};

namespace {

CFHashCode keyHash(const __CFDictionary* d, const void* key) {
    CFHashCode h = d->kcb.hash ? d->kcb.hash(key) : reinterpret_cast<CFHashCode>(key);
    // Spread the bits: pointers and small integers differ mostly in their low bits.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

bool keysEqual(const __CFDictionary* d, const void* a, const void* b) {
    return a == b || (d->kcb.equal != nullptr && d->kcb.equal(a, b));
}

// The slot holding key, or NULL.
Slot* findSlot(const __CFDictionary* d, const void* key, CFHashCode h) {
    if (d->slotCount == 0)
        return nullptr;
    CFIndex mask = d->slotCount - 1;
    for (CFIndex i = static_cast<CFIndex>(h) & mask, n = 0; n < d->slotCount;
         i = (i + 1) & mask, ++n) {
        Slot& s = d->slots[i];
        if (s.state == kEmpty)
            return nullptr;
        if (s.state == kUsed && s.hash == h && keysEqual(d, s.key, key))
            return &s;
    }
    return nullptr;
}

void rehash(__CFDictionary* d, CFIndex newCount) {
    auto* slots = static_cast<Slot*>(std::calloc(static_cast<size_t>(newCount), sizeof(Slot)));
    if (slots == nullptr)
        throw std::bad_alloc();
    CFIndex mask = newCount - 1;
    for (CFIndex i = 0; i < d->slotCount; ++i) {
        const Slot& s = d->slots[i];
        if (s.state != kUsed)
            continue;
        CFIndex j = static_cast<CFIndex>(s.hash) & mask;
        while (slots[j].state == kUsed)
            j = (j + 1) & mask;
        slots[j] = s;
    }
    std::free(d->slots);
    d->slots = slots;
    d->slotCount = newCount;
    d->used = d->count;
}

// Inserts an entry known to be absent.
void insertNew(__CFDictionary* d, const void* key, const void* value, CFHashCode h) {
    if ((d->used + 1) * 2 > d->slotCount) {
        CFIndex n = 8;
        while (n < (d->count + 1) * 2)
            n *= 2;
        rehash(d, n); // also clears the deleted slots
    }
    CFIndex mask = d->slotCount - 1;
    CFIndex i = static_cast<CFIndex>(h) & mask;
    while (d->slots[i].state == kUsed)
        i = (i + 1) & mask;
    if (d->slots[i].state == kEmpty)
        ++d->used;
    d->slots[i] = Slot{d->kcb.retain ? d->kcb.retain(nullptr, key) : key,
                       d->vcb.retain ? d->vcb.retain(nullptr, value) : value, h, kUsed};
    ++d->count;
}

void releaseEntry(const __CFDictionary* d, const void* key, const void* value) {
    if (d->kcb.release)
        d->kcb.release(nullptr, key);
    if (d->vcb.release)
        d->vcb.release(nullptr, value);
}

void finalizeDictionary(CFTypeRef cf) {
    auto* d = static_cast<const __CFDictionary*>(cf);
    for (CFIndex i = 0; i < d->slotCount; ++i)
        if (d->slots[i].state == kUsed)
            releaseEntry(d, d->slots[i].key, d->slots[i].value);
    std::free(d->slots);
}

bool valuesEqual(const __CFDictionary* d, const void* a, const void* b) {
    return a == b || (d->vcb.equal != nullptr && d->vcb.equal(a, b));
}

Boolean equalDictionaries(CFTypeRef x, CFTypeRef y) {
    auto* a = static_cast<CFDictionaryRef>(x);
    auto* b = static_cast<CFDictionaryRef>(y);
    if (a->count != b->count)
        return false;
    for (CFIndex i = 0; i < a->slotCount; ++i) {
        const Slot& s = a->slots[i];
        if (s.state != kUsed)
            continue;
        Slot* t = findSlot(b, s.key, keyHash(b, s.key));
        if (t == nullptr || !valuesEqual(a, s.value, t->value))
            return false;
    }
    return true;
}

CFHashCode hashDictionary(CFTypeRef cf) {
    return static_cast<CFHashCode>(static_cast<CFDictionaryRef>(cf)->count);
}

CFStringRef describeDictionary(CFTypeRef cf) {
    auto* d = static_cast<CFDictionaryRef>(cf);
    std::u16string s = u"{";
    for (CFIndex i = 0; i < d->slotCount; ++i) {
        const Slot& e = d->slots[i];
        if (e.state != kUsed)
            continue;
        s += describe(e.key, d->kcb.copyDescription);
        s += u" = ";
        s += describe(e.value, d->vcb.copyDescription);
        s += u"; ";
    }
    s += u"}";
    return stringOf(s);
}

__CFDictionary* newDictionary(const CFDictionaryKeyCallBacks* kcb,
                              const CFDictionaryValueCallBacks* vcb, bool isMutable,
                              CFIndex maxCount) {
    auto* d = static_cast<__CFDictionary*>(allocObject(kDictionaryTypeID, sizeof(__CFDictionary)));
    if (kcb != nullptr)
        d->kcb = *kcb;
    if (vcb != nullptr)
        d->vcb = *vcb;
    d->isMutable = isMutable;
    d->maxCount = maxCount > 0 ? maxCount : 0;
    return d;
}

bool isDict(CFDictionaryRef d) {
    return isType(d, kDictionaryTypeID);
}

__CFDictionary* mutDict(CFMutableDictionaryRef d) {
    return (isDict(d) && d->isMutable) ? d : nullptr;
}

void copyEntries(__CFDictionary* to, CFDictionaryRef from) {
    for (CFIndex i = 0; i < from->slotCount; ++i) {
        const Slot& s = from->slots[i];
        if (s.state == kUsed)
            insertNew(to, s.key, s.value, keyHash(to, s.key));
    }
}

} // namespace

const CFRuntimeClass orvik::cf::kDictionaryClass = {
    "CFDictionary", finalizeDictionary, equalDictionaries, hashDictionary, describeDictionary};

CFTypeID CFDictionaryGetTypeID(void) {
    return kDictionaryTypeID;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    if (numValues < 0 || (numValues > 0 && (keys == nullptr || values == nullptr)))
        return nullptr;
    __CFDictionary* d = newDictionary(keyCallBacks, valueCallBacks, false, 0);
    for (CFIndex i = 0; i < numValues; ++i) {
        CFHashCode h = keyHash(d, keys[i]);
        Slot* s = findSlot(d, keys[i], h);
        if (s == nullptr) {
            insertNew(d, keys[i], values[i], h);
        } else { // a repeated key: the last value wins
            const void* v = d->vcb.retain ? d->vcb.retain(nullptr, values[i]) : values[i];
            if (d->vcb.release)
                d->vcb.release(nullptr, s->value);
            s->value = v;
        }
    }
    return d;
}

CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef, CFDictionaryRef theDict) {
    if (!isDict(theDict))
        return nullptr;
    __CFDictionary* d = newDictionary(&theDict->kcb, &theDict->vcb, false, 0);
    copyEntries(d, theDict);
    return d;
}

CFMutableDictionaryRef CFDictionaryCreateMutable(CFAllocatorRef, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks* keyCallBacks,
                                                 const CFDictionaryValueCallBacks* valueCallBacks) {
    return newDictionary(keyCallBacks, valueCallBacks, true, capacity);
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex capacity,
                                                     CFDictionaryRef theDict) {
    if (!isDict(theDict))
        return newDictionary(nullptr, nullptr, true, capacity);
    if (capacity > 0 && theDict->count > capacity)
        return nullptr;
    __CFDictionary* d = newDictionary(&theDict->kcb, &theDict->vcb, true, capacity);
    copyEntries(d, theDict);
    return d;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
    return isDict(theDict) ? theDict->count : 0;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void* key,
                                      const void** value) {
    if (!isDict(theDict))
        return false;
    Slot* s = findSlot(theDict, key, keyHash(theDict, key));
    if (s == nullptr)
        return false;
    if (value != nullptr)
        *value = s->value;
    return true;
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
    const void* v = nullptr;
    return CFDictionaryGetValueIfPresent(theDict, key, &v) ? v : nullptr;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void* key) {
    return CFDictionaryGetValueIfPresent(theDict, key, nullptr);
}

Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void* value) {
    if (!isDict(theDict))
        return false;
    for (CFIndex i = 0; i < theDict->slotCount; ++i)
        if (theDict->slots[i].state == kUsed &&
            valuesEqual(theDict, theDict->slots[i].value, value))
            return true;
    return false;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys, const void** values) {
    if (!isDict(theDict))
        return;
    CFIndex k = 0;
    for (CFIndex i = 0; i < theDict->slotCount; ++i) {
        const Slot& s = theDict->slots[i];
        if (s.state != kUsed)
            continue;
        if (keys)
            keys[k] = s.key;
        if (values)
            values[k] = s.value;
        ++k;
    }
}

void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                               void* context) {
    if (!isDict(theDict) || applier == nullptr)
        return;
    // Snapshot first so that the applier may not disturb the walk.
    std::vector<std::pair<const void*, const void*>> entries;
    entries.reserve(static_cast<size_t>(theDict->count));
    for (CFIndex i = 0; i < theDict->slotCount; ++i)
        if (theDict->slots[i].state == kUsed)
            entries.emplace_back(theDict->slots[i].key, theDict->slots[i].value);
    for (auto& e : entries)
        applier(e.first, e.second, context);
}

namespace {

enum class Put { Add, Set, Replace };

void put(CFMutableDictionaryRef theDict, const void* key, const void* value, Put mode) {
    __CFDictionary* d = mutDict(theDict);
    if (d == nullptr)
        return;
    CFHashCode h = keyHash(d, key);
    Slot* s = findSlot(d, key, h);
    if (s == nullptr) {
        if (mode == Put::Replace || (d->maxCount > 0 && d->count >= d->maxCount))
            return;
        insertNew(d, key, value, h);
        return;
    }
    if (mode == Put::Add)
        return;
    // Retain the new value before releasing the old one: they may be the same object.
    const void* v = d->vcb.retain ? d->vcb.retain(nullptr, value) : value;
    const void* old = s->value;
    s->value = v;
    if (d->vcb.release)
        d->vcb.release(nullptr, old);
}

} // namespace

void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
    put(theDict, key, value, Put::Add);
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
    put(theDict, key, value, Put::Set);
}

void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void* key, const void* value) {
    put(theDict, key, value, Put::Replace);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void* key) {
    __CFDictionary* d = mutDict(theDict);
    if (d == nullptr)
        return;
    Slot* s = findSlot(d, key, keyHash(d, key));
    if (s == nullptr)
        return;
    const void* k = s->key;
    const void* v = s->value;
    s->state = kDeleted;
    s->key = s->value = nullptr;
    --d->count;
    releaseEntry(d, k, v); // after the table is consistent: callbacks may look at it
}

void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict) {
    __CFDictionary* d = mutDict(theDict);
    if (d == nullptr)
        return;
    Slot* slots = d->slots;
    CFIndex n = d->slotCount;
    d->slots = nullptr;
    d->slotCount = d->count = d->used = 0;
    for (CFIndex i = 0; i < n; ++i)
        if (slots[i].state == kUsed)
            releaseEntry(d, slots[i].key, slots[i].value);
    std::free(slots);
}
