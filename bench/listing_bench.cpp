// In-process costs: the divisor listing for the largest inputs, and reading fields.
#include <benchmark/benchmark.h>

#include <string>

#include "fields.hpp"
#include "listing.hpp"

namespace {

struct NullSink : computer::LineSink {
    std::size_t bytes = 0;
    void write(std::string_view t) override { bytes += t.size(); }
};

void Listing(benchmark::State& state, double m) {
    for (auto _ : state) {
        NullSink sink;
        computer::list_divisor_counters(rt::Integer(1), rt::Double(m), sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
}
BENCHMARK_CAPTURE(Listing, prime_2147483647, 2147483647.0);
BENCHMARK_CAPTURE(Listing, composite_2147483646, 2147483646.0);

// Every counter from -10^6 to -1 (an M that rounds to 0): the cost of writing a huge listing.
void EveryCounter(benchmark::State& state) {
    for (auto _ : state) {
        NullSink sink;
        computer::list_divisor_counters(rt::Double(-1000000.25), rt::Integer(0), sink);
        benchmark::DoNotOptimize(sink.bytes);
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(EveryCounter);

void ReadFields(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += std::to_string(i) + "," + std::to_string(i * 7) + ".25\n";
    for (auto _ : state) {
        rt::FieldReader reader(std::string_view(text), "bench");
        for (int i = 0; i < 200000; ++i) benchmark::DoNotOptimize(reader.next());
    }
    state.SetItemsProcessed(state.iterations() * 200000);
}
BENCHMARK(ReadFields);

}  // namespace

BENCHMARK_MAIN();
