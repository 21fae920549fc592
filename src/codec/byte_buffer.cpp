// SPDX-License-Identifier: MIT
#include "codec/byte_buffer.hpp"

#include <cstdint>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

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

void* mapOnHugePages(std::size_t length) {
    // Map one huge page more than needed and cut the mapping down to an aligned stretch, so
    // that every huge page of it can be backed by one.
    const std::size_t mappedLength = length + kHugePage;
    void* mapped =
        mmap(nullptr, mappedLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    // The block is aligned by address arithmetic: integers and pointers on purpose here.
    // NOLINTBEGIN(performance-no-int-to-ptr)
    const auto base = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t start = roundUp(base, kHugePage);
    if (start > base) munmap(mapped, start - base);
    const std::uintptr_t end = start + length;
    if (base + mappedLength > end) munmap(reinterpret_cast<void*>(end), base + mappedLength - end);
    // Only advice: without huge pages the block still works, with small pages.
    madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
    // NOLINTEND(performance-no-int-to-ptr)
}

struct Mapping {
    void* start = nullptr;
    std::size_t length = 0;
};

// Keeps the last released mapping for the next large block. Payloads come one after another,
// and a mapping whose pages are already there saves every fault of the next one; the kernel
// may still take the pages back under memory pressure (MADV_FREE), as the contents no
// longer matter.
class MappingCache {
  public:
    void* take(std::size_t length) {
        Mapping unfit;
        {
            const std::lock_guard lock(mutex_);
            if (idle_.start != nullptr && idle_.length >= length && idle_.length / 2 <= length) {
                const Mapping reused = std::exchange(idle_, {});
                if (reused.length != length) lent_.push_back(reused);
                return reused.start;
            }
            unfit = std::exchange(idle_, {});
        }
        // Unmapped before the new mapping, so that the two never add up.
        if (unfit.start != nullptr) munmap(unfit.start, unfit.length);
        return mapOnHugePages(length);
    }

    void give(void* start, std::size_t length) noexcept {
        Mapping released{start, length};
        Mapping dropped;
        {
            const std::lock_guard lock(mutex_);
            for (auto it = lent_.begin(); it != lent_.end(); ++it) {
                if (it->start == start) {
                    released.length = it->length;
                    lent_.erase(it);
                    break;
                }
            }
            if (released.length < kCachedUpTo) {
                dropped = std::exchange(idle_, released);
                madvise(released.start, released.length, MADV_FREE);
            } else {
                dropped = released;
            }
        }
        if (dropped.start != nullptr) munmap(dropped.start, dropped.length);
    }

    void drop() noexcept {
        Mapping dropped;
        {
            const std::lock_guard lock(mutex_);
            dropped = std::exchange(idle_, {});
        }
        if (dropped.start != nullptr) munmap(dropped.start, dropped.length);
    }

  private:
    static constexpr std::size_t kCachedUpTo = std::size_t{1} << 30;

    std::mutex mutex_;
    Mapping idle_;
    // Cached mappings in use that are longer than their block, so that they are returned whole.
    std::vector<Mapping> lent_;
};

// Never destroyed: buffers in static objects may be released after it would have been.
MappingCache& mappingCache() {
    static auto* cache = new MappingCache;
    return *cache;
}
#endif

}  // namespace

void* allocateBytes(std::size_t size) {
#if defined(__linux__)
    if (mappedSize(size)) {
        if (size > std::size_t(-1) - 2 * kHugePage) throw std::bad_alloc();
        return mappingCache().take(roundUp(size, kHugePage));
    }
#endif
    return ::operator new(size);
}

void releaseBytes(void* block, std::size_t size) noexcept {
#if defined(__linux__)
    if (mappedSize(size)) {
        mappingCache().give(block, roundUp(size, kHugePage));
        return;
    }
#endif
    ::operator delete(block);
}

void releaseIdleBytes() noexcept {
#if defined(__linux__)
    mappingCache().drop();
#endif
}

}  // namespace ovk::codec_detail
