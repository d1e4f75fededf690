// Every tag search against a naive one, over inputs placed at every alignment and cut at every
// length, so that each vector step and each tail length is crossed.
#include "search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

std::int64_t naive_search(const unsigned char* p, std::int64_t n)
{
    for (std::int64_t i = 0; i + TAG_LENGTH <= n; ++i)
        if (std::memcmp(p + i, SCAN_TAG, TAG_LENGTH) == 0)
            return i;
    return -1;
}

bool always() { return true; }

struct search_variant {
    const char* name;
    search_fn search;
    bool (*runs_here)();
};

const search_variant SEARCHES[] = {
    {"scalar", search_tag_scalar, always},
#if defined(__x86_64__)
    {"sse2", search_tag_sse2, always},
    {"avx2", search_tag_avx2, cpu_has_avx2},
#elif defined(__aarch64__)
    {"neon", search_tag_neon, always},
#endif
    {"fastest", [](const unsigned char* p, std::int64_t n) { return fastest_search().search(p, n); }, always},
};

// Three steps of the widest search (64 positions each), and the tag.
constexpr std::size_t LONGEST = 3 * 64 + TAG_LENGTH;

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
        alignas(64) unsigned char padded[64 + LONGEST + 64];
        for (std::size_t shift = 0; shift < 64; ++shift) {
            std::memset(padded, 'F', sizeof padded);
            std::memcpy(padded + shift, bytes.data(), bytes.size());
            if (shift >= 3)
                std::memcpy(padded + shift - 3, "SND", 3);
            const unsigned char* p = padded + shift;
            const auto n = static_cast<std::int64_t>(bytes.size());
            ASSERT_EQ(GetParam().search(p, n), naive_search(p, n)) << what << ", size " << n << ", shift " << shift;
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
// every input end in a tag that only the byte past the window would complete.
TEST_P(SearchTag, AgreesWithNaiveSearchOnDenseDecoys)
{
    for (const char* pattern : {"S", "SSS", "SNDSND", "SNDS", "NDF", "SN", "x", "SNDSNDFF"})
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

INSTANTIATE_TEST_SUITE_P(Searches, SearchTag, ::testing::ValuesIn(SEARCHES),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
