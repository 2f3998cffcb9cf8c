// Shared reporting for the benchmarks: console output (coloured only on a
// terminal), the time of every real run kept by benchmark name, sides that
// alternate run by run, and the closing `ratio R` line.
//
//   int main(int argc, char** argv) {
//       bench_ratio::Reporter reporter(bench_ratio::Clock::Cpu);
//       bench_ratio::initialize(&argc, argv, reporter);
//       bench_ratio::alternate(5, {{"BM_Base", base}, {"BM_Ours", ours}},
//                              [](benchmark::internal::Benchmark* b) { b->MinTime(0.5); });
//       benchmark::RunSpecifiedBenchmarks(&reporter);
//       return bench_ratio::finish(reporter.ratio("BM_Ours", "BM_Base"));
//   }
//
// Only iteration rows count: with --benchmark_repetitions the mean, median and
// stddev rows are printed but never divided. A side's figure is its fastest
// run (the machine is shared; slow runs are other people's work).
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench_ratio {

enum class Clock { Real, Cpu };

class Reporter : public benchmark::ConsoleReporter {
public:
    explicit Reporter(Clock clock = Clock::Real) : clock_(clock) {}

    // Seconds per iteration of every real run, by name without arguments
    // ("BM_Load" for "BM_Load/8/repeats:5"), on the reporter's clock; and on
    // each clock (manual times count as real time).
    std::map<std::string, std::vector<double>> seconds, realSeconds, cpuSeconds;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations <= 0)
                continue;
            const std::string& name = r.run_name.function_name;
            realSeconds[name].push_back(r.real_accumulated_time / double(r.iterations));
            cpuSeconds[name].push_back(r.cpu_accumulated_time / double(r.iterations));
            seconds[name].push_back((clock_ == Clock::Cpu ? cpuSeconds : realSeconds)[name].back());
        }
    }

    // Fastest run of a name; NaN when it never ran.
    double best(const std::string& name) const { return best(name, clock_); }
    double best(const std::string& name, Clock clock) const
    {
        const auto& m = clock == Clock::Cpu ? cpuSeconds : realSeconds;
        auto it = m.find(name);
        if (it == m.end() || it->second.empty())
            return NAN;
        return *std::min_element(it->second.begin(), it->second.end());
    }

    double median(const std::string& name) const
    {
        auto it = seconds.find(name);
        if (it == seconds.end() || it->second.empty())
            return NAN;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        size_t n = v.size();
        return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
    }

    // Best of `ours` over best of `base`; NaN when either is missing.
    double ratio(const std::string& ours, const std::string& base) const { return ratio(ours, base, clock_); }
    double ratio(const std::string& ours, const std::string& base, Clock clock) const
    {
        double a = best(ours, clock), b = best(base, clock);
        return (b > 0 && a > 0) ? a / b : NAN;
    }

    void setColour(bool on)
    {
        output_options_ = on ? OO_ColorTabular : OO_Tabular;
    }

private:
    Clock clock_;
};

// benchmark::Initialize, and colour only when standard output is a terminal
// and --benchmark_color does not say otherwise.
inline void initialize(int* argc, char** argv, Reporter& reporter)
{
    bool colour = isatty(fileno(stdout)) != 0;
    for (int i = 1; i < *argc; i++) {
        const char* flag = "--benchmark_color=";
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) {
            const char* v = argv[i] + std::strlen(flag);
            if (!std::strcmp(v, "false") || !std::strcmp(v, "no") || !std::strcmp(v, "0"))
                colour = false;
            else if (!std::strcmp(v, "true") || !std::strcmp(v, "yes") || !std::strcmp(v, "1"))
                colour = true;
        }
    }
    benchmark::Initialize(argc, argv);
    reporter.setColour(colour);
}

using Side = std::pair<const char*, std::function<void(benchmark::State&)>>;

// Registers the sides in turn, `rounds` times over (A B A B ...), so that a
// change in the machine's load falls on both. Every registration shares its
// side's name; `configure` sets each one up (unit, time, manual timing).
inline void alternate(int rounds, std::initializer_list<Side> sides,
                      const std::function<void(benchmark::internal::Benchmark*)>& configure = nullptr)
{
    std::vector<Side> list(sides);
    for (int r = 0; r < rounds; r++)
        for (const Side& s : list) {
            benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(s.first, s.second);
            if (configure)
                configure(b);
        }
}

// Prints the last line; exit status 1 when the ratio could not be computed.
inline int finish(double ratio)
{
    if (!std::isfinite(ratio)) {
        std::printf("ratio nan\n");
        return 1;
    }
    std::printf("ratio %.3f\n", ratio);
    return 0;
}

}  // namespace bench_ratio
