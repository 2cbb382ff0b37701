// The resource manager: user-visible texts in the user's language.
//
// Code asks for a text by its English wording and gets the translation from
// the application bundle's default string table, or the English text itself:
//
//   IOrvikResourceManager* rm = CResourceManagerFactory::GetResourceManager();
//   CAtlString yes = rm->GetTranslatedString("Yes", nullptr);   // u"Ja" in German
//
// Beside that the manager finds localised resource files, splits a text with
// colour markup into runs, and writes a date in the user's locale. One
// instance serves the process; the factory creates it on first use. No
// operation reports an error: what cannot be translated or found comes back
// as the key or name itself.
#pragma once

#include "platform/CoreFoundation.h"
#include "strings/AtlString.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

// ---- CArray: the string array the markup operation fills ----------------------
//
// m_pData holds m_nMaxSize slots; the first m_nSize hold constructed elements,
// the rest are raw storage. Growing moves elements bit for bit, so TYPE must
// tolerate being relocated that way (CAtlString is one pointer).
// Growth: m_nGrowBy slots at a time, or with m_nGrowBy 0, m_nSize / 8 limited
// to 4..1024: appending to 100 elements at full capacity gives capacity 112.
template <class TYPE, class ARG_TYPE> class CArray {
public:
    CArray() = default;
    CArray(const CArray&) = delete;
    CArray& operator=(const CArray&) = delete;
    ~CArray() { SetSize(0, -1); }

    int GetSize() const { return m_nSize; }
    int GetCount() const { return m_nSize; }
    int GetUpperBound() const { return m_nSize - 1; }
    bool IsEmpty() const { return m_nSize == 0; }
    // No range check, as callers index within GetSize().
    TYPE& operator[](int nIndex) { return m_pData[nIndex]; }
    const TYPE& operator[](int nIndex) const { return m_pData[nIndex]; }
    const TYPE& GetAt(int nIndex) const { return m_pData[nIndex]; }
    TYPE& ElementAt(int nIndex) { return m_pData[nIndex]; }
    const TYPE* GetData() const { return m_pData; }

    // nNewSize < 0 does nothing; nGrowBy >= 0 becomes the growth step.
    void SetSize(int nNewSize, int nGrowBy = -1);
    // A negative index does nothing; beyond the end the array grows first.
    void SetAtGrow(int nIndex, ARG_TYPE newElement);
    // Appends and returns the new element's index.
    int Add(ARG_TYPE newElement) {
        const int index = m_nSize;
        SetAtGrow(index, newElement);
        return index;
    }
    void RemoveAll() { SetSize(0, -1); }

    // Fields in the documented order.
    TYPE* m_pData = nullptr;
    int32_t m_nSize = 0;
    int32_t m_nMaxSize = 0;
    int32_t m_nGrowBy = 0;

private:
    static TYPE* Allocate(int32_t slots) {
        return static_cast<TYPE*>(::operator new(static_cast<size_t>(slots) * sizeof(TYPE)));
    }
    static void Construct(TYPE* first, int32_t count) {
        for (int32_t i = 0; i < count; ++i)
            new (first + i) TYPE();
    }
    static void Destroy(TYPE* first, int32_t count) {
        for (int32_t i = 0; i < count; ++i)
            first[i].~TYPE();
    }
};

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetSize(int nNewSize, int nGrowBy) {
    if (nNewSize < 0)
        return;
    if (nGrowBy >= 0)
        m_nGrowBy = nGrowBy;
    if (nNewSize == 0) {
        Destroy(m_pData, m_nSize);
        ::operator delete(m_pData);
        m_pData = nullptr;
        m_nSize = m_nMaxSize = 0;
        return;
    }
    if (m_pData == nullptr) {
        const int32_t slots = m_nGrowBy > nNewSize ? m_nGrowBy : nNewSize;
        m_pData = Allocate(slots);
        Construct(m_pData, nNewSize);
        m_nSize = nNewSize;
        m_nMaxSize = slots;
        return;
    }
    if (nNewSize <= m_nMaxSize) {
        if (nNewSize > m_nSize)
            Construct(m_pData + m_nSize, nNewSize - m_nSize);
        else
            Destroy(m_pData + nNewSize, m_nSize - nNewSize);
        m_nSize = nNewSize;
        return;
    }
    int32_t step = m_nGrowBy;
    if (step == 0)
        step = m_nSize / 8 < 4 ? 4 : (m_nSize / 8 > 1024 ? 1024 : m_nSize / 8);
    const int64_t wanted = int64_t{m_nMaxSize} + step;
    const int64_t newMax = nNewSize > wanted ? nNewSize : wanted;
    if (newMax < m_nMaxSize || newMax > INT32_MAX)
        return; // the capacity would overflow
    TYPE* newData = Allocate(static_cast<int32_t>(newMax));
    std::memcpy(static_cast<void*>(newData), static_cast<const void*>(m_pData),
                static_cast<size_t>(m_nSize) * sizeof(TYPE));
    Construct(newData + m_nSize, nNewSize - m_nSize);
    ::operator delete(m_pData);
    m_pData = newData;
    m_nSize = nNewSize;
    m_nMaxSize = static_cast<int32_t>(newMax);
}

template <class TYPE, class ARG_TYPE>
void CArray<TYPE, ARG_TYPE>::SetAtGrow(int nIndex, ARG_TYPE newElement) {
    if (nIndex < 0)
        return;
    if (nIndex >= m_nSize) {
        // The value may live in this array's own storage, which growing moves.
        if (&newElement >= m_pData && &newElement < m_pData + m_nMaxSize) {
            TYPE copy(newElement);
            SetSize(nIndex + 1, -1);
            m_pData[nIndex] = copy;
            return;
        }
        SetSize(nIndex + 1, -1);
    }
    m_pData[nIndex] = newElement;
}

// ---- the resource manager -------------------------------------------------------

class IOrvikResourceManager {
public:
    virtual ~IOrvikResourceManager() {}
    // The translation of `key` (English, 8-bit), or `key` widened. `extra` is
    // not read.
    virtual CAtlString GetTranslatedString(const char* key, const char* extra) = 0;
    // The path of the localised resource `name`, or `name` widened.
    virtual CAtlString GetTranslatedResourcePath(const char* name, const char* extra) = 0;
    // Splits the translation of `key` into runs and their colours:
    //   "Press <.color=red.>Stop<./color.> now" -> {"Press ", "Stop", " now"},
    //                                              {"black", "red", "black"}
    // appended after what the arrays hold. False, arrays untouched, when
    // `markup` is neither "Color" nor "Colour" (any case).
    virtual bool GetTranslatedMarkUpString(const char* key, const char* markup,
                                           CArray<CAtlString, CAtlString&>* textRuns,
                                           CArray<CAtlString, CAtlString&>* attributeRuns) = 0;
};

class CResourceManagerMac : public IOrvikResourceManager {
public:
    // Takes its own reference to the main bundle.
    CResourceManagerMac();
    ~CResourceManagerMac() override;
    CResourceManagerMac(const CResourceManagerMac&) = delete;
    CResourceManagerMac& operator=(const CResourceManagerMac&) = delete;

    CAtlString GetTranslatedString(const char* key, const char* extra) override;
    CAtlString GetTranslatedResourcePath(const char* name, const char* extra) override;
    bool GetTranslatedMarkUpString(const char* key, const char* markup,
                                   CArray<CAtlString, CAtlString&>* textRuns,
                                   CArray<CAtlString, CAtlString&>* attributeRuns) override;

    // The user's locale identifier, such as "de_DE": the current locale's
    // identifier when it contains the first preferred language; otherwise that
    // language joined with the locale's region when such a locale exists, else
    // the language alone. Without a preferred language: the current locale.
    CAtlString GetCurrentLocale();
    // "2024-3-9" (year-month-day) as the current locale's long date, "9. März
    // 2024"; a text that is no such date comes back unchanged (widened).
    CAtlString GetTranslatedDate(const char* date);
    // A new zero-terminated copy of str's units for the caller to delete[];
    // true (a null str gives an empty copy).
    bool GetCharactersFromCFString(CFStringRef str, unsigned short** out);

    CFBundleRef m_bundle = nullptr;
};

class CResourceManagerFactory {
public:
    // The process-wide instance, created on the first call.
    static IOrvikResourceManager* GetResourceManager();
    // Destroys the instance; the next GetResourceManager creates a new one.
    static void FreeResourceManager();

    static IOrvikResourceManager* m_pResourceManager;
    static int32_t m_GlobalLanguageID; // not read by any operation
    static CAtlString m_csProductName; // not read by any operation
};

namespace orvik::resources {

// The markup scan on an already translated text (see GetTranslatedMarkUpString).
// Malformed markup, an opening "<." without "=", a colour value without ".>"
// or a closing "<./" without ".>", is kept as text: from there to the end one
// run in "black". `positions`, when given, receives the scan position at the
// start of every step (it only ever increases).
void ScanMarkup(const CAtlString& text, CArray<CAtlString, CAtlString&>* textRuns,
                CArray<CAtlString, CAtlString&>* attributeRuns,
                std::vector<int>* positions = nullptr);

} // namespace orvik::resources
