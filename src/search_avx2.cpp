// Tag search with AVX2: per 32 positions, two unaligned loads compared with the tag's first and
// last bytes; only a step where such a pair occurs loads the middle two. A hundred and twenty-eight
// positions per step. Compiled for AVX2 function by function, so the rest of the program runs on
// any x86-64 CPU.
#include "search.h"

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>

namespace {

__attribute__((target("avx2"))) inline __m256i equal_at(const unsigned char* p, char byte)
{
    return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), _mm256_set1_epi8(byte));
}

// Set where a position of p[0, LANES) holds the tag's first byte and its last byte follows 3 later.
__attribute__((target("avx2"))) inline __m256i ends_at(const unsigned char* p)
{
    return _mm256_and_si256(equal_at(p, SCAN_TAG[0]), equal_at(p + TAG_LENGTH - 1, SCAN_TAG[TAG_LENGTH - 1]));
}

// One bit per position of p[0, LANES): set where `ends` holds and the middle bytes match too.
__attribute__((target("avx2"))) inline std::uint32_t tag_starts(const unsigned char* p, __m256i ends)
{
    const __m256i middle = _mm256_and_si256(equal_at(p + 1, SCAN_TAG[1]), equal_at(p + 2, SCAN_TAG[2]));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(ends, middle)));
}

constexpr std::int64_t LANES = 32;
constexpr int LANES_PER_STEP = 4;
constexpr std::int64_t STEP = LANES_PER_STEP * LANES;

} // namespace

// AVX2 instructions run only where the CPU has AVX and AVX2, and the operating system has enabled
// XSAVE (OSXSAVE) and saves both the SSE and the AVX registers (XCR0 bits 1 and 2); elsewhere they
// fault.
bool avx2_usable(std::uint32_t leaf1_ecx, std::uint64_t xcr0, std::uint32_t leaf7_ebx)
{
    constexpr std::uint64_t SSE_AND_AVX_STATE = 0x6;
    return (leaf1_ecx & bit_OSXSAVE) && (leaf1_ecx & bit_AVX) && (xcr0 & SSE_AND_AVX_STATE) == SSE_AND_AVX_STATE &&
           (leaf7_ebx & bit_AVX2);
}

// Asked of the CPU itself rather than of the compiler's runtime, which not every toolchain ships.
// xgetbv itself faults where OSXSAVE is clear, so XCR0 is read only where it is set.
__attribute__((target("xsave"))) bool cpu_has_avx2()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const std::uint32_t leaf1_ecx = ecx;
    const std::uint64_t xcr0 = (leaf1_ecx & bit_OSXSAVE) ? _xgetbv(0) : 0;
    const std::uint32_t leaf7_ebx = __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) ? ebx : 0;
    return avx2_usable(leaf1_ecx, xcr0, leaf7_ebx);
}

__attribute__((target("avx2"))) std::int64_t search_tag_avx2(const unsigned char* p, std::int64_t n)
{
    std::int64_t i = 0;
    // A step reads p[i, i + STEP + TAG_LENGTH - 1); the last few positions go to the scalar search.
    for (; i + STEP + TAG_LENGTH - 1 <= n; i += STEP) {
        __m256i ends[LANES_PER_STEP];
        __m256i any = _mm256_setzero_si256();
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            any = _mm256_or_si256(any, ends[lane] = ends_at(p + i + lane * LANES));
        if (_mm256_testz_si256(any, any))
            continue;
        for (int lane = 0; lane < LANES_PER_STEP; ++lane)
            if (const std::uint32_t hits = tag_starts(p + i + lane * LANES, ends[lane]))
                return i + lane * LANES + __builtin_ctz(hits);
    }
    return finish_with_scalar(p, n, i);
}
#endif
