// The tag searches alone, on one scan window (4100 bytes) of each input class.
#include "search.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

std::vector<unsigned char> window_of(int kind)
{
    std::vector<unsigned char> bytes(4100, kind == 1 ? 'S' : 0);
    if (kind == 0) {
        std::mt19937 random(7);
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(random());
    }
    return bytes;
}

template <std::int64_t (*search)(const unsigned char*, std::int64_t)>
void bm_search(benchmark::State& state)
{
    const std::vector<unsigned char> bytes = window_of(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(search(bytes.data(), static_cast<std::int64_t>(bytes.size())));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
    state.SetLabel(state.range(0) == 0 ? "random" : state.range(0) == 1 ? "all S" : "zeros");
}

BENCHMARK_TEMPLATE(bm_search, search_tag_scalar)->DenseRange(0, 2);
#if defined(__SSE2__)
BENCHMARK_TEMPLATE(bm_search, search_tag_sse2)->DenseRange(0, 2);
#endif

} // namespace

BENCHMARK_MAIN();
