// CRC-32 throughput of CCrc32 against zlib on the same 1 MiB buffer, and the time ratio.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/hash/crc32.h"

namespace {

const std::vector<unsigned char>& Buffer() {
    static const std::vector<unsigned char> buffer = [] {
        std::vector<unsigned char> data(1u << 20);
        std::mt19937 random(12345);
        for (auto& byte : data) byte = static_cast<unsigned char>(random());
        return data;
    }();
    return buffer;
}

void BM_Crc32Ours(benchmark::State& state) {
    const auto& data = Buffer();
    VORN::CCrc32 crc(VORN::CCrc32::kStandardPolynomial);
    for (auto _ : state) {
        crc.Reset();
        benchmark::DoNotOptimize(crc.Update(data.data(), static_cast<std::uint32_t>(data.size())));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc32Ours);

void BM_Crc32Zlib(benchmark::State& state) {
    const auto& data = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            crc32(crc32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Crc32Zlib);

// Prints as usual and keeps the CPU time per iteration of each benchmark for the ratio; CPU
// time, because the machine is shared and wall time picks up other loads.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
                times[run.run_name.function_name] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    // Checked once so the ratio never compares a wrong result.
    const auto& data = Buffer();
    VORN::CCrc32 crc(VORN::CCrc32::kStandardPolynomial);
    const auto ours = crc.Update(data.data(), static_cast<std::uint32_t>(data.size()));
    const auto theirs = static_cast<std::uint32_t>(
        crc32(crc32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
    if (ours != theirs) {
        std::fprintf(stderr, "crc32 mismatch: %08x vs zlib %08x\n", ours, theirs);
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto o = reporter.times.find("BM_Crc32Ours");
    const auto z = reporter.times.find("BM_Crc32Zlib");
    if (o != reporter.times.end() && z != reporter.times.end() && z->second > 0)
    {
        std::printf("crc32 ratio vs zlib: %.3f\n", o->second / z->second);
        // For scripts: "ratio: KEY VALUE".
        std::printf("ratio: crc32_vs_zlib %.4f\n", o->second / z->second);
    }
    return 0;
}
