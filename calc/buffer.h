/*
 * A growable array of plain values on the library's heap (plat::alloc), so
 * that the calculation core's memory is counted, can be made to fail in
 * tests, and never throws: every operation that may allocate answers false
 * when the heap refuses, leaving the contents as they were.  Growth doubles,
 * so filling n elements costs O(n) copies.  Elements move when the buffer
 * grows: hold indices, not pointers, across a call that may grow it.
 */
#ifndef WKS_CALC_BUFFER_H
#define WKS_CALC_BUFFER_H

#include "platform/platform.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace wks::calc {

template <typename T>
class Buffer {
    static_assert(std::is_trivially_copyable_v<T>, "Buffer moves its elements with memcpy");

public:
    Buffer() = default;
    ~Buffer() { plat::release(data_); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    std::size_t size() const { return size_; }
    std::size_t capacity_bytes() const { return capacity_ * sizeof(T); }
    bool empty() const { return size_ == 0; }
    T *data() { return data_; }
    const T *data() const { return data_; }
    T &operator[](std::size_t i) { return data_[i]; }
    const T &operator[](std::size_t i) const { return data_[i]; }
    T &back() { return data_[size_ - 1]; }

    bool reserve(std::size_t wanted) {
        if (wanted <= capacity_) return true;
        std::size_t capacity = capacity_ ? capacity_ : kFirstCapacity;
        while (capacity < wanted) {
            if (capacity > kMaxElements / 2) return false;
            capacity *= 2;
        }
        auto *grown = static_cast<T *>(plat::alloc(capacity * sizeof(T)));
        if (!grown) return false;
        if (size_) std::memcpy(static_cast<void *>(grown), data_, size_ * sizeof(T));
        plat::release(data_);
        data_ = grown;
        capacity_ = capacity;
        return true;
    }

    bool push(const T &value) {
        if (size_ == capacity_ && !reserve(size_ + 1)) return false;
        data_[size_++] = value;
        return true;
    }

    // Appends n copies of fill.
    bool append(std::size_t n, const T &fill) {
        if (n > kMaxElements - size_ || !reserve(size_ + n)) return false;
        for (std::size_t i = 0; i < n; ++i) data_[size_ + i] = fill;
        size_ += n;
        return true;
    }

    bool append(const T *values, std::size_t n) {
        if (n > kMaxElements - size_ || !reserve(size_ + n)) return false;
        if (n) std::memcpy(static_cast<void *>(data_ + size_), values, n * sizeof(T));
        size_ += n;
        return true;
    }

    void pop() { --size_; }
    void shrink_to(std::size_t n) { size_ = n; }
    void clear() { size_ = 0; }

private:
    static constexpr std::size_t kFirstCapacity = 16;
    static constexpr std::size_t kMaxElements = (static_cast<std::size_t>(1) << 40) / sizeof(T);

    T *data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace wks::calc

#endif
