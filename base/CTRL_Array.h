// The growable array used for every list of the controller, the scenes and
// the scene files, and the byte buffer that holds the content package.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

// Elements are plain data moved with byte copies. A pointer array does not
// own what it points to; its owner deletes the elements (deleteAll).
//
// Growth: capacity at least 128, doubling until the count fits. Shrink: an
// owning array above 128 halves its capacity once when a resize leaves the
// count at or below half of it. At count 0 an owning array frees its
// storage; a non-owning one keeps it.
template <typename T>
struct CTRL_Array {
    static_assert(std::is_trivially_copyable_v<T>, "CTRL_Array holds plain data");

    T* data = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
    uint8_t owns = 1;

    CTRL_Array() = default;
    CTRL_Array(const CTRL_Array&) = delete;
    CTRL_Array& operator=(const CTRL_Array&) = delete;
    CTRL_Array(CTRL_Array&& o) noexcept : data(o.data), count(o.count), capacity(o.capacity), owns(o.owns)
    {
        o.data = nullptr;
        o.count = o.capacity = 0;
    }
    ~CTRL_Array()
    {
        if (owns)
            std::free(data);
    }

    T& operator[](int32_t i) { return data[i]; }
    const T& operator[](int32_t i) const { return data[i]; }
    T* begin() { return data; }
    T* end() { return data + count; }
    const T* begin() const { return data; }
    const T* end() const { return data + count; }

    // Sets the count to n. Answers false, with the array unchanged, when n is
    // negative or the storage cannot be had.
    bool resize(int32_t n)
    {
        if (n < 0)
            return false;
        if (n == 0) {
            if (owns) {
                std::free(data);
                data = nullptr;
                capacity = 0;
            }
            count = 0;
            return true;
        }
        if (n <= capacity) {
            if (owns && capacity >= 129 && n <= capacity / 2) {
                T* p = static_cast<T*>(std::realloc(data, sizeof(T) * (size_t)(capacity / 2)));
                if (p) {
                    data = p;
                    capacity /= 2;
                }
                // A failed shrink keeps the larger block: nothing is lost.
            }
            count = n;
            return true;
        }
        // Grow in 64 bits so that doubling past 2^30 cannot wrap; the
        // capacity stops at the largest count an array can hold.
        int64_t cap = capacity < 128 ? 128 : capacity;
        while (n > cap)
            cap *= 2;
        if (cap > INT32_MAX)
            cap = INT32_MAX;
        if ((uint64_t)cap > SIZE_MAX / sizeof(T))
            return false;
        T* p;
        if (owns) {
            p = static_cast<T*>(std::realloc(data, sizeof(T) * (size_t)cap));
            if (!p)
                return false;
        } else {
            // Storage we do not own is never reallocated: copy it into a
            // block of our own, which this array then owns.
            p = static_cast<T*>(std::malloc(sizeof(T) * (size_t)cap));
            if (!p)
                return false;
            if (count > 0)
                std::memcpy(static_cast<void*>(p), data, sizeof(T) * (size_t)count);
            owns = 1;
        }
        data = p;
        capacity = (int32_t)cap;
        count = n;
        return true;
    }

    bool append(const T& element)
    {
        T copy = element;   // element may live inside this array
        if (count == INT32_MAX || !resize(count + 1))
            return false;
        std::memcpy(static_cast<void*>(&data[count - 1]), &copy, sizeof(T));
        return true;
    }

    // For arrays refilled every frame: reuse() empties the array and keeps
    // its storage; push() and grow() only ever enlarge it (resize and append
    // give back storage as the count falls, which would allocate again on
    // the next fill). grow(n) sets the count to n.
    void reuse()
    {
        if (owns)
            count = 0;
        else
            resize(0);
    }
    bool grow(int32_t n)
    {
        if (owns && n >= 0 && n <= capacity) {
            count = n;
            return true;
        }
        return resize(n);
    }
    bool push(const T& element)
    {
        if (owns && count < capacity) {
            std::memcpy(static_cast<void*>(&data[count]), &element, sizeof(T));
            count++;
            return true;
        }
        return append(element);
    }

    // Moves the later elements one slot towards the front, then resizes to
    // count - 1. An index outside the array does nothing.
    void removeAt(int32_t i)
    {
        if (i < 0 || i >= count)
            return;
        if (i + 1 < count)
            std::memmove(static_cast<void*>(&data[i]), &data[i + 1], sizeof(T) * (size_t)(count - i - 1));
        resize(count - 1);
    }

    // Index of the first element equal to x, or -1.
    int32_t indexOf(const T& x) const
    {
        for (int32_t i = 0; i < count; i++)
            if (data[i] == x)
                return i;
        return -1;
    }

    // Deletes every element of a pointer array through its destructor, then
    // frees the storage (count and capacity 0).
    void deleteAll()
        requires std::is_pointer_v<T>
    {
        for (int32_t i = 0; i < count; i++)
            delete data[i];
        if (owns)
            std::free(data);
        data = nullptr;
        count = capacity = 0;
        owns = 1;
    }
};

class VIEW_Texture;

// Frees every texture record of the list (its name, its owned data, its
// script proxy link, the record), then the list's storage.
void CTRL_iFreeImageList(CTRL_Array<VIEW_Texture*>* list);

// The content package buffer: exact size, no growth rule.
struct CTRL_Package {
    uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t capacity = 0;
    uint8_t owns = 1;
};

// Exact resize: n = 0 frees the bytes (data null, size and capacity 0);
// otherwise size := capacity := n. Answers false, leaving the buffer as it
// was, when the bytes cannot be had.
bool CTRL_iResizeByteBuffer(CTRL_Package* package, uint32_t n);
