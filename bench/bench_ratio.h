// The main program of the benchmarks that measure against a reference
// implementation: the console report, then how each pair compares.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace benchratio {

// The console report, with each benchmark's time kept for the ratios: the
// mean of its repetitions when there are several.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const std::string name = r.run_name.str();
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "mean") {
        times[name] = r.GetAdjustedRealTime();
        means[name] = true;
      } else if (r.run_type == Run::RT_Iteration && !means[name]) {
        times[name] = r.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::map<std::string, bool> means;
};

inline void PrintRatio(const RatioReporter& r, const char* what, const char* ours, const char* reference) {
  const auto a = r.times.find(ours);
  const auto b = r.times.find(reference);
  if (a == r.times.end() || b == r.times.end() || b->second <= 0) return;
  std::printf("%s: %.3f (time of %s / time of %s)\n", what, a->second / b->second, ours, reference);
}

// A line of the summary: the time of `ours` over the time of `reference`.
struct Ratio {
  const char* what;
  const char* ours;
  const char* reference;
};

// Runs the benchmarks the command line selects, then prints the ratios.
inline int RunAndPrintRatios(int argc, char** argv, std::initializer_list<Ratio> ratios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const Ratio& r : ratios) PrintRatio(reporter, r.what, r.ours, r.reference);
  return 0;
}

}  // namespace benchratio
