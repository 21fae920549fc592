// SPDX-License-Identifier: MIT
#include "codec/base64_kernels.hpp"

#include <vector>

namespace ovk::codec_detail {
namespace {

std::size_t noDigits(const uint8_t*, std::size_t, uint8_t*, std::size_t) {
    return 0;
}
std::size_t noGroups(const uint8_t*, std::size_t, uint8_t*) {
    return 0;
}

// The library is built for the baseline instruction set; the wider kernels carry their own
// target attributes and are only handed out when the processor says it has them.
std::vector<const Base64Kernels*> detectKernels() {
    std::vector<const Base64Kernels*> kernels{&kPortableBase64Kernels};
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse4.1")) kernels.push_back(&kSse41Base64Kernels);
    if (__builtin_cpu_supports("avx2")) kernels.push_back(&kAvx2Base64Kernels);
#endif
    return kernels;
}

const std::vector<const Base64Kernels*>& kernelsOfThisProcessor() {
    static const std::vector<const Base64Kernels*> kernels = detectKernels();
    return kernels;
}

}  // namespace

const Base64Kernels kPortableBase64Kernels{"portable", noDigits, noGroups};

const Base64Kernels& fastestBase64Kernels() {
    static const Base64Kernels& fastest = *kernelsOfThisProcessor().back();
    return fastest;
}

std::span<const Base64Kernels* const> availableBase64Kernels() {
    return kernelsOfThisProcessor();
}

}  // namespace ovk::codec_detail
