// The tag searches alone, on one scan window (4100 bytes) of each input class.
#include "search.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

enum input_class { RANDOM, ALL_S, ZEROS };
const char* const CLASS_NAMES[] = {"random", "all S", "zeros"};

std::vector<unsigned char> window_of(input_class kind)
{
    std::vector<unsigned char> bytes(4100, kind == ALL_S ? 'S' : 0);
    if (kind == RANDOM) {
        std::mt19937 random(7);
        for (unsigned char& b : bytes)
            b = static_cast<unsigned char>(random());
    }
    return bytes;
}

template <search_fn search>
void bm_search(benchmark::State& state)
{
#if defined(__x86_64__)
    if (search == search_tag_avx2 && !cpu_has_avx2()) {
        state.SkipWithError("this CPU has no AVX2");
        return;
    }
#endif
    const auto kind = static_cast<input_class>(state.range(0));
    const std::vector<unsigned char> bytes = window_of(kind);
    for (auto _ : state)
        benchmark::DoNotOptimize(search(bytes.data(), static_cast<std::int64_t>(bytes.size())));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
    state.SetLabel(CLASS_NAMES[kind]);
}

BENCHMARK_TEMPLATE(bm_search, search_tag_scalar)->DenseRange(RANDOM, ZEROS);
#if defined(__x86_64__)
BENCHMARK_TEMPLATE(bm_search, search_tag_sse2)->DenseRange(RANDOM, ZEROS);
BENCHMARK_TEMPLATE(bm_search, search_tag_avx2)->DenseRange(RANDOM, ZEROS);
#elif defined(__aarch64__)
BENCHMARK_TEMPLATE(bm_search, search_tag_neon)->DenseRange(RANDOM, ZEROS);
#endif

} // namespace

int main(int argc, char** argv)
{
    // The search that keldo uses on this CPU, printed with the machine's description.
    benchmark::AddCustomContext("keldo's search", fastest_search().name);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
