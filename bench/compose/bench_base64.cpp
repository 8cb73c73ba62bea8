// EncodeBase64 against OpenSSL's EVP_EncodeBlock on the same input. Our figures include the CR LF after
// every 76 characters; OpenSSL's block encoder writes one unbroken line, so it does less work.
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "compose/base64.h"

namespace {

std::vector<unsigned char> Input(std::size_t n) {
    std::vector<unsigned char> data(n);
    std::mt19937 rng(42);
    for (auto& b : data) b = static_cast<unsigned char>(rng());
    return data;
}

// The way the mail writer uses it: appended to a text that already has its room.
void BM_Ours_Append(benchmark::State& state) {
    const auto data = Input(static_cast<std::size_t>(state.range(0)));
    std::string out;
    out.reserve(vox::Base64EncodedSize(data.size()));
    for (auto _ : state) {
        out.clear();
        vox::AppendBase64(out, data.data(), data.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSSL_EncodeBlock(benchmark::State& state) {
    const auto data = Input(static_cast<std::size_t>(state.range(0)));
    std::vector<unsigned char> out(4 * ((data.size() + 2) / 3) + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(EVP_EncodeBlock(out.data(), data.data(), static_cast<int>(data.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

// A new text per call, as EncodeBase64 returns it, against OpenSSL into a new buffer per call.
void BM_Ours_EncodeBase64New(benchmark::State& state) {
    const auto data = Input(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string out = vox::EncodeBase64(data.data(), static_cast<std::int32_t>(data.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSSL_EncodeBlockNew(benchmark::State& state) {
    const auto data = Input(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        const auto out = std::make_unique_for_overwrite<unsigned char[]>(4 * ((data.size() + 2) / 3) + 1);
        benchmark::DoNotOptimize(EVP_EncodeBlock(out.get(), data.data(), static_cast<int>(data.size())));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

#define VOX_SIZES ->Arg(1 << 10)->Arg(64 << 10)->Arg(16 << 20)
BENCHMARK(BM_Ours_Append) VOX_SIZES;
BENCHMARK(BM_OpenSSL_EncodeBlock) VOX_SIZES;
BENCHMARK(BM_Ours_EncodeBase64New) VOX_SIZES;
BENCHMARK(BM_OpenSSL_EncodeBlockNew) VOX_SIZES;

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vox::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nthroughput, ours (line breaks included) as a multiple of OpenSSL EVP_EncodeBlock:\n");
    for (const char* size : {"1024", "65536", "16777216"}) {
        reporter.PrintRatio(std::string("BM_Ours_Append/") + size,
                            std::string("BM_OpenSSL_EncodeBlock/") + size);
        reporter.PrintRatio(std::string("BM_Ours_EncodeBase64New/") + size,
                            std::string("BM_OpenSSL_EncodeBlockNew/") + size);
    }
    benchmark::Shutdown();
    return 0;
}
