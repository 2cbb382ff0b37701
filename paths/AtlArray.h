// CAtlArray: the growable array in which listings of paths come back.
//
// Contract: elements lie contiguously in one malloc'd buffer that is null
// until the first Add. Add copy-constructs the new element in place; when the
// buffer grows, the live elements are moved across by raw byte copy
// (memmove), never by copy constructor, so T must be bitwise relocatable
// (CAtlString and the path classes are: one pointer each). The automatic
// growth step gives the capacities 1, 5, 9, ..., 33, 37, 41, 46, 51, ...
// (4 while count / 8 is at most 3, then count / 8, at most 1024).
// An index at or past the count throws a plain std::exception; an allocation
// that fails makes Add add nothing and return 0. Callers read m_nSize
// directly for the element count.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

template <class T> class CElementTraits {};

template <class T, class ETraits = CElementTraits<T>> class CAtlArray {
public:
    T* m_pData = nullptr;    // element buffer, from malloc
    uint32_t m_nSize = 0;    // live elements
    uint32_t m_nMaxSize = 0; // element slots in the buffer
    uint32_t m_nGrowBy = 0;  // fixed growth step; 0 means automatic

    CAtlArray() = default;
    CAtlArray(const CAtlArray&) = delete;
    CAtlArray& operator=(const CAtlArray&) = delete;

    ~CAtlArray() {
        if (m_pData != nullptr) {
            CallDestructors(m_pData, m_nSize);
            free(m_pData);
        }
    }

    // Index of the new element; 0 with nothing added when the buffer can't grow.
    unsigned long Add(const T& element) {
        if (m_nSize == m_nMaxSize && !GrowBuffer(m_nSize + 1))
            return 0;
        new (static_cast<void*>(m_pData + m_nSize)) T(element);
        return m_nSize++;
    }

    T& GetAt(unsigned long index) {
        if (index >= m_nSize)
            throw std::exception();
        return m_pData[index];
    }
    const T& GetAt(unsigned long index) const {
        if (index >= m_nSize)
            throw std::exception();
        return m_pData[index];
    }
    T& operator[](unsigned long index) { return GetAt(index); }
    const T& operator[](unsigned long index) const { return GetAt(index); }

    unsigned long GetCount() const { return m_nSize; }
    bool IsEmpty() const { return m_nSize == 0; }
    T* GetData() { return m_pData; }
    const T* GetData() const { return m_pData; }

    // Makes room for newSize elements; see the growth rule above.
    bool GrowBuffer(unsigned long newSize) {
        if (m_nMaxSize >= newSize)
            return true;
        if (m_pData == nullptr) {
            unsigned long slots = newSize > m_nGrowBy ? newSize : m_nGrowBy;
            T* buffer = Allocate(slots);
            if (buffer == nullptr)
                return false;
            m_pData = buffer;
            m_nMaxSize = static_cast<uint32_t>(slots);
            return true;
        }
        unsigned long step = m_nGrowBy;
        if (step == 0) {
            step = m_nSize / 8 > 3 ? m_nSize / 8 : 4;
            if (step > 1024)
                step = 1024;
        }
        unsigned long slots = static_cast<unsigned long>(m_nMaxSize) + step;
        if (slots < newSize)
            slots = newSize;
        T* buffer = Allocate(slots);
        if (buffer == nullptr)
            return false;
        memmove(static_cast<void*>(buffer), static_cast<const void*>(m_pData), sizeof(T) * m_nSize);
        free(m_pData);
        m_pData = buffer;
        m_nMaxSize = static_cast<uint32_t>(slots);
        return true;
    }

    static void CallDestructors(T* elements, unsigned long count) {
        for (unsigned long i = 0; i < count; ++i)
            elements[i].~T();
    }

private:
    static T* Allocate(unsigned long slots) {
        if (slots > UINT32_MAX || slots > SIZE_MAX / sizeof(T))
            return nullptr;
        return static_cast<T*>(malloc(sizeof(T) * slots));
    }
};
