// Every tag search against a naive one, over inputs placed at every alignment and cut at every
// length, so that each vector step and each tail length is crossed.
#include "search.h"

#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

// Failures name the variant.
void PrintTo(const search_variant& v, std::ostream* os) { *os << v.name; }

namespace {

std::int64_t naive_search(const unsigned char* p, std::int64_t n)
{
    for (std::int64_t i = 0; i + TAG_LENGTH <= n; ++i)
        if (std::memcmp(p + i, SCAN_TAG, TAG_LENGTH) == 0)
            return i;
    return -1;
}

// Every variant built here, and the one the scan takes: it must be one this CPU runs.
std::vector<search_variant> variants_and_fastest()
{
    std::vector<search_variant> variants(std::begin(SEARCH_VARIANTS), std::end(SEARCH_VARIANTS));
    variants.push_back({"fastest", fastest_search().search, runs_everywhere});
    return variants;
}

// Three steps of the widest search (128 positions each), and the tag.
constexpr std::size_t LONGEST = 3 * 128 + TAG_LENGTH;

class SearchTag : public ::testing::TestWithParam<search_variant> {
protected:
    void SetUp() override
    {
        if (!GetParam().runs_here())
            GTEST_SKIP() << GetParam().name << ": this CPU cannot run it";
    }

    void expect_agrees(const std::string& bytes, const char* what)
    {
        // "SND" just before the input and 'F' just after it: a search that reads outside
        // [p, p + n) finds a tag there.
        const auto n = static_cast<std::int64_t>(bytes.size());
        const std::int64_t expected = naive_search(reinterpret_cast<const unsigned char*>(bytes.data()), n);
        alignas(64) unsigned char padded[64 + LONGEST + 64];
        for (std::size_t shift = 0; shift < 64; ++shift) {
            std::memset(padded, 'F', sizeof padded);
            std::memcpy(padded + shift, bytes.data(), bytes.size());
            if (shift >= 3)
                std::memcpy(padded + shift - 3, "SND", 3);
            ASSERT_EQ(GetParam().search(padded + shift, n), expected) << what << ", size " << n << ", shift " << shift;
        }
    }
};

// `pattern` repeated to `size` bytes so that the input ends with a whole `pattern`, with the tag
// planted at `at` where it fits (`at` may have wrapped below zero: then there is no tag).
std::string haystack(const std::string& pattern, std::size_t size, std::size_t at)
{
    std::string bytes;
    while (bytes.size() < size)
        bytes += pattern;
    bytes.erase(0, bytes.size() - size);
    if (size >= TAG_LENGTH && at <= size - TAG_LENGTH)
        bytes.replace(at, TAG_LENGTH, SCAN_TAG);
    return bytes;
}

// Every length, so that the last vector step of each search ends at every place; "SNDSND" makes
// every input end in a tag that only the byte past the window would complete. "SxxF" and "SNDx"
// pass the vector searches' first-and-last-byte filter, or nearly, at every fourth position.
TEST_P(SearchTag, AgreesWithNaiveSearchOnDenseDecoys)
{
    for (const char* pattern : {"S", "SSS", "SNDSND", "SNDS", "NDF", "SN", "x", "SNDSNDFF", "SxxF", "SNDx"})
        for (std::size_t size = 0; size <= LONGEST; ++size)
            for (std::size_t at : {std::size_t{0}, std::size_t{1}, size / 2, size - 5, size - 4, size - 3, size + 1})
                expect_agrees(haystack(pattern, size, at), pattern);
}

TEST_P(SearchTag, AgreesWithNaiveSearchOnRandomInput)
{
    std::mt19937 random(2026);
    for (int round = 0; round < 300; ++round) {
        const std::size_t size = random() % LONGEST;
        std::string bytes(size, '\0');
        for (char& b : bytes)
            b = "SNDFx\x80"[random() % 6];
        if (size >= TAG_LENGTH && round % 2 == 0)
            bytes.replace(random() % (size - TAG_LENGTH + 1), TAG_LENGTH, SCAN_TAG);
        expect_agrees(bytes, "random bytes");
    }
}

#if defined(__x86_64__)
TEST(FastestSearch, Avx2OnlyWhereTheCpuHasItAndTheSystemSavesItsRegisters)
{
    constexpr std::uint32_t OSXSAVE_AND_AVX = bit_OSXSAVE | bit_AVX;
    const struct {
        const char* name;
        std::uint32_t leaf1_ecx;
        std::uint64_t xcr0;
        std::uint32_t leaf7_ebx;
        bool usable;
    } cases[] = {
        {"all there, x87 state saved too", OSXSAVE_AND_AVX, 0x7, bit_AVX2, true},
        {"SSE and AVX state saved", OSXSAVE_AND_AVX, 0x6, bit_AVX2, true},
        {"no AVX2", OSXSAVE_AND_AVX, 0x7, 0, false},
        {"no AVX", bit_OSXSAVE, 0x7, bit_AVX2, false},
        {"no OSXSAVE", bit_AVX, 0x7, bit_AVX2, false},
        {"AVX state not saved", OSXSAVE_AND_AVX, 0x3, bit_AVX2, false},
        {"SSE state not saved", OSXSAVE_AND_AVX, 0x5, bit_AVX2, false},
        {"XCR0 not read", OSXSAVE_AND_AVX, 0, bit_AVX2, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(avx2_usable(c.leaf1_ecx, c.xcr0, c.leaf7_ebx), c.usable) << c.name;
}

// The dispatcher's own reading of the CPU against the compiler's.
TEST(FastestSearch, IsAvx2ExactlyWhereTheCpuHasIt)
{
    EXPECT_STREQ(fastest_search().name, __builtin_cpu_supports("avx2") ? "avx2" : "sse2");
}
#endif

INSTANTIATE_TEST_SUITE_P(Searches, SearchTag, ::testing::ValuesIn(variants_and_fastest()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
