// The main program of the benchmarks that measure against a reference
// implementation or a time budget: the console report, then how each pair
// compares.
//
// With --table a program instead runs each pair interleaved (ours, then the
// reference, five times over) and prints one line per pair for scripts/bench:
//   NURA-BENCH-ROW <tab> figure <tab> project <tab> anchor <tab> ratio <tab> goal <tab> met
// Times are process CPU time (the machine is shared), except for benchmarks
// that ask for real time (those that run other programs) and those that time
// a part of each iteration themselves (manual time).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace benchratio {

// The console report, with each benchmark's time kept for the ratios: the
// mean of its repetitions when there are several.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options = OO_Defaults) : ConsoleReporter(options) {}
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
      if (r.run_type == Run::RT_Iteration) {
        const bool real = r.run_name.time_type == "real_time" || r.run_name.time_type == "manual_time";
        const double t = real ? r.GetAdjustedRealTime() : r.GetAdjustedCPUTime();
        samples[name].push_back(t * 1e3 / benchmark::GetTimeUnitMultiplier(r.time_unit));
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
  std::map<std::string, bool> means;
  std::map<std::string, std::vector<double>> samples;  // milliseconds per iteration, one per run
};

// A line of the summary: the time of `ours` over the time of `reference`, at
// most `goal` when one is given; with no reference, the time of `ours` in
// milliseconds against a budget of `goal` milliseconds.
struct Ratio {
  std::string what;
  std::string ours;
  std::string reference;  // empty: a time budget
  double goal = 0;        // 0: none
};

inline void PrintRatio(const RatioReporter& r, const char* what, const char* ours, const char* reference) {
  const auto a = r.times.find(ours);
  const auto b = r.times.find(reference);
  if (a == r.times.end() || b == r.times.end() || b->second <= 0) return;
  std::printf("%s: %.3f (time of %s / time of %s)\n", what, a->second / b->second, ours, reference);
}

// --- The table of scripts/bench ------------------------------------------------

// Removes --table from the arguments; true when it was there.
inline bool TakeTableFlag(int* argc, char** argv) {
  bool found = false;
  int out = 1;
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], "--table") == 0) found = true;
    else argv[out++] = argv[i];
  }
  *argc = out;
  return found;
}

inline std::string Escaped(const std::string& name) {
  std::string out = "^";
  for (char c : name) {
    if (std::strchr("\\^$.|?*+()[]{}", c)) out += '\\';
    out += c;
  }
  return out + "$";
}

struct Stats {
  double min = NAN, median = NAN;
};

inline Stats Summary(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.min = v.front();
  const std::size_t n = v.size();
  s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  return s;
}

// "1.23 ms (min 1.2)", in the unit that suits the median.
inline std::string Milliseconds(const Stats& s) {
  if (std::isnan(s.median)) return "-";
  double scale = 1;
  const char* unit = "ms";
  if (s.median < 1e-3) scale = 1e6, unit = "ns";
  else if (s.median < 1) scale = 1e3, unit = "us";
  char text[64];
  std::snprintf(text, sizeof text, "%.3g %s (min %.3g)", s.median * scale, unit, s.min * scale);
  return text;
}

// One row of the table; values a program computes itself (not times) come
// through here too. goal and met may be "-".
inline void PrintRow(const std::string& figure, const std::string& project, const std::string& anchor,
                     const std::string& ratio, const std::string& goal, const std::string& met) {
  std::printf("NURA-BENCH-ROW\t%s\t%s\t%s\t%s\t%s\t%s\n", figure.c_str(), project.c_str(), anchor.c_str(),
              ratio.c_str(), goal.c_str(), met.c_str());
  std::fflush(stdout);
}

// Whether `value` meets "at most goal", and by how much it misses.
inline std::string Met(double value, double goal) {
  if (goal <= 0) return "-";
  if (std::isnan(value)) return "not measured";
  if (value <= goal) return "yes";
  char text[64];
  std::snprintf(text, sizeof text, "no, %.0f%% over", (value / goal - 1) * 100);
  return text;
}

// Runs each pair `repetitions` times, ours then the reference, and prints the rows.
inline void RunTable(const std::vector<Ratio>& ratios, int repetitions = 5) {
  RatioReporter reporter(benchmark::ConsoleReporter::OO_None);  // no colour codes before the rows
  for (int rep = 0; rep < repetitions; ++rep)
    for (const Ratio& r : ratios) {
      benchmark::RunSpecifiedBenchmarks(&reporter, Escaped(r.ours));
      if (!r.reference.empty()) benchmark::RunSpecifiedBenchmarks(&reporter, Escaped(r.reference));
    }
  for (const Ratio& r : ratios) {
    const Stats ours = Summary(reporter.samples[r.ours]);
    char goal[32] = "-", ratio[32] = "-";
    if (r.reference.empty()) {
      if (r.goal > 0) std::snprintf(goal, sizeof goal, "<= %g ms", r.goal);
      PrintRow(r.what, Milliseconds(ours), "-", "-", goal, Met(ours.median, r.goal));
      continue;
    }
    const Stats ref = Summary(reporter.samples[r.reference]);
    const double value = ours.median / ref.median;
    if (r.goal > 0) std::snprintf(goal, sizeof goal, "<= %g", r.goal);
    if (!std::isnan(value)) std::snprintf(ratio, sizeof ratio, "%.3g (min/min %.3g)", value, ours.min / ref.min);
    PrintRow(r.what, Milliseconds(ours), Milliseconds(ref), ratio, goal, Met(value, r.goal));
  }
}

// Runs the benchmarks the command line selects, then prints the ratios; with
// --table, the table's rows instead.
inline int RunAndPrintRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
  const bool table = TakeTableFlag(&argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (table) {
    RunTable(ratios);
    benchmark::Shutdown();
    return 0;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const Ratio& r : ratios) {
    if (!r.reference.empty()) {
      PrintRatio(reporter, r.what.c_str(), r.ours.c_str(), r.reference.c_str());
    } else if (const auto t = reporter.samples.find(r.ours); t != reporter.samples.end() && r.goal > 0) {
      std::printf("%s: %.3f ms (budget %g ms)\n", r.what.c_str(), Summary(t->second).median, r.goal);
    }
  }
  return 0;
}

}  // namespace benchratio
