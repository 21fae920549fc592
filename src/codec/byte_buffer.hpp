// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace ovk {

namespace codec_detail {
// Large blocks come from their own mapping on huge pages where the system offers them: a
// fresh output of tens of megabytes otherwise costs one page fault per 4 KiB, which on a
// virtual machine takes longer than filling the page. Small blocks come from the heap.
void* allocateBytes(std::size_t size);
void releaseBytes(void* block, std::size_t size) noexcept;
// Returns the large block kept for reuse (if any) to the system now.
void releaseIdleBytes() noexcept;
}  // namespace codec_detail

// An allocator whose value-less construction leaves bytes as they are. A vector that uses it
// grows without writing zeros first, which for a payload of tens of megabytes is a whole
// extra pass over memory that the codec is about to overwrite anyway.
template <class T>
class UninitialisedAllocator {
  public:
    using value_type = T;

    UninitialisedAllocator() noexcept = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(codec_detail::allocateBytes(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { codec_detail::releaseBytes(p, n * sizeof(T)); }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <class U>
    bool operator==(const UninitialisedAllocator<U>&) const noexcept {
        return true;
    }
};

// Bytes whose resize() leaves new positions unwritten and whose large blocks sit on huge pages: for
// outputs that are filled completely right after they are sized, as the Base64 codec does.
using ByteBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

}  // namespace ovk
