// A growing array of plain values whose every allocation is tested: a push
// that cannot have its memory returns false and leaves the array as it was.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

template <typename T> class CGrowArray
{
    static_assert(std::is_trivially_copyable<T>::value, "moved with memcpy");

  public:
    CGrowArray() = default;
    CGrowArray(const CGrowArray&) = delete;
    CGrowArray& operator=(const CGrowArray&) = delete;
    ~CGrowArray() { delete[] m_p; }

    bool Reserve(size_t cTotal)
    {
        if (cTotal <= m_capacity)
            return true;
        size_t cNew = m_capacity < 16 ? 16 : m_capacity * 2;
        if (cNew < cTotal)
            cNew = cTotal;
        if (cNew > static_cast<size_t>(-1) / sizeof(T))
            return false;
        T* p = new (std::nothrow) T[cNew];
        if (p == nullptr)
            return false;
        if (m_size != 0)
            std::memcpy(static_cast<void*>(p), m_p, m_size * sizeof(T));
        delete[] m_p;
        m_p = p;
        m_capacity = cNew;
        return true;
    }
    bool Push(const T& value)
    {
        if (!Reserve(m_size + 1))
            return false;
        m_p[m_size++] = value;
        return true;
    }
    // Room for cMore further values without another allocation.
    bool ReserveMore(size_t cMore)
    {
        return cMore <= static_cast<size_t>(-1) - m_size && Reserve(m_size + cMore);
    }
    // Grows by cMore values left as they are; false when that cannot be had.
    bool Extend(size_t cMore)
    {
        if (!ReserveMore(cMore))
            return false;
        m_size += cMore;
        return true;
    }
    void Clear() { m_size = 0; }
    void PopBack() { --m_size; }
    size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    T* Data() { return m_p; }
    const T* Data() const { return m_p; }
    T& operator[](size_t i) { return m_p[i]; }
    const T& operator[](size_t i) const { return m_p[i]; }

  private:
    T* m_p = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};
