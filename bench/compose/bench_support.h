#pragma once
// A console reporter that also remembers each benchmark's bytes per second, so that a program can print
// our figure as a multiple of the peer's at the end.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace vox::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            // With repetitions, the median stands for the benchmark.
            if (run.run_type == Run::RT_Iteration) {
                rates.emplace(run.run_name.str(), it->second);
            } else if (run.aggregate_name == "median") {
                rates[run.run_name.str()] = it->second;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // "ours / peer" for two benchmark names; prints nothing when either did not run.
    void PrintRatio(const std::string& ours, const std::string& peer) const {
        const auto a = rates.find(ours);
        const auto b = rates.find(peer);
        if (a == rates.end() || b == rates.end() || b->second <= 0) return;
        std::printf("%-44s %8.3f GB/s  vs %-44s %8.3f GB/s  ratio %.2f\n", ours.c_str(), a->second / 1e9,
                    peer.c_str(), b->second / 1e9, a->second / b->second);
    }
    std::map<std::string, double> rates;
};

}  // namespace vox::bench
