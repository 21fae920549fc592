#include "codec/byte_buffer.hpp"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace ovk::codec_detail {
namespace {

#if defined(__linux__)
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this a mapping of its own costs more than the faults it saves, and rounding up to
// whole huge pages would waste too much.
constexpr std::size_t kMappedFrom = std::size_t{8} << 20;

std::size_t roundUp(std::size_t size, std::size_t unit) {
    return (size + unit - 1) / unit * unit;
}

bool mappedSize(std::size_t size) {
    return size >= kMappedFrom;
}

void* mapOnHugePages(std::size_t size) {
    if (size > std::size_t(-1) - 2 * kHugePage) throw std::bad_alloc();
    const std::size_t length = roundUp(size, kHugePage);
    // Map one huge page more than needed and cut the mapping down to an aligned stretch, so
    // that every huge page of it can be backed by one.
    const std::size_t mappedLength = length + kHugePage;
    void* mapped =
        mmap(nullptr, mappedLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto base = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = roundUp(base, kHugePage);
    if (start > base) munmap(mapped, start - base);
    const std::uintptr_t end = start + length;
    if (base + mappedLength > end) munmap(reinterpret_cast<void*>(end), base + mappedLength - end);
    // Only advice: without huge pages the block still works, with small pages.
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}
#endif

}  // namespace

void* allocateBytes(std::size_t size) {
#if defined(__linux__)
    if (mappedSize(size)) return mapOnHugePages(size);
#endif
    return ::operator new(size);
}

void releaseBytes(void* block, std::size_t size) noexcept {
#if defined(__linux__)
    if (mappedSize(size)) {
        munmap(block, roundUp(size, kHugePage));
        return;
    }
#endif
    ::operator delete(block, size);
}

}  // namespace ovk::codec_detail
