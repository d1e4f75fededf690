// Searches for the tag inside one buffer. Each algorithm lives in its own file, and
// fastest_search picks the one to use on this CPU; search_tag_scalar is the reference the others
// are tested against. All return the index of the first tag lying wholly inside p[0, n), or -1.
#pragma once

#include <cstdint>

constexpr char SCAN_TAG[] = "SNDF";
constexpr std::int64_t TAG_LENGTH = sizeof SCAN_TAG - 1;

using search_fn = std::int64_t (*)(const unsigned char* p, std::int64_t n);

// A first-byte scan (memchr), then a full compare at each candidate, resuming one byte later.
// Fast on input with few "S" bytes; on input dense in them every byte costs a compare.
std::int64_t search_tag_scalar(const unsigned char* p, std::int64_t n);

// The vector searches compare every position of a step with all four tag bytes at once, so
// their cost per byte does not depend on what the input holds: they help most where the scalar
// search is slowest. Past the last whole step they finish with the scalar search.
#if defined(__x86_64__)
// Thirty-two positions per step, in 16-byte vectors; every x86-64 CPU has SSE2.
std::int64_t search_tag_sse2(const unsigned char* p, std::int64_t n);
// Sixty-four positions per step, in 32-byte vectors. Only where cpu_has_avx2() says so.
std::int64_t search_tag_avx2(const unsigned char* p, std::int64_t n);
inline bool cpu_has_avx2() { return __builtin_cpu_supports("avx2") != 0; }
#elif defined(__aarch64__)
// Thirty-two positions per step, in 16-byte vectors; every AArch64 CPU has NEON.
std::int64_t search_tag_neon(const unsigned char* p, std::int64_t n);
#endif

struct tag_search {
    const char* name;
    search_fn search;
};

// The fastest search that this CPU runs. The build stays one for any CPU of its architecture:
// AVX2 is asked for at run time.
inline tag_search fastest_search()
{
#if defined(__x86_64__)
    if (cpu_has_avx2())
        return {"avx2", search_tag_avx2};
    return {"sse2", search_tag_sse2};
#elif defined(__aarch64__)
    return {"neon", search_tag_neon};
#else
    return {"scalar", search_tag_scalar};
#endif
}
