// The tag searches alone, every variant this CPU runs, on one scan window (4100 bytes) of each
// input class.
#include "search.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

enum input_class { RANDOM, ALL_S, ZEROS, S_X_X_F };
const char* const CLASS_NAMES[] = {"random", "all-S", "zeros", "SxxF"};

std::vector<unsigned char> window_of(input_class kind)
{
    std::vector<unsigned char> bytes(4100, kind == ALL_S ? 'S' : 0);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (kind == RANDOM)
            bytes[i] = static_cast<unsigned char>(random());
        else if (kind == S_X_X_F)
            bytes[i] = "SxxF"[i % 4];
    }
    return bytes;
}

void bm_search(benchmark::State& state, search_fn search, input_class kind)
{
    const std::vector<unsigned char> bytes = window_of(kind);
    for (auto _ : state)
        benchmark::DoNotOptimize(search(bytes.data(), static_cast<std::int64_t>(bytes.size())));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

} // namespace

int main(int argc, char** argv)
{
    // The search that keldo uses on this CPU, printed with the machine's description.
    benchmark::AddCustomContext("keldo's search", fastest_search().name);
    for (const search_variant& v : SEARCH_VARIANTS) {
        if (!v.runs_here())
            continue;
        for (input_class kind : {RANDOM, ALL_S, ZEROS, S_X_X_F})
            benchmark::RegisterBenchmark(("bm_search/" + std::string(v.name) + "/" + CLASS_NAMES[kind]).c_str(),
                                         bm_search, v.search, kind);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
