// The shader compiler's work meter against the time it stands for. Every
// compile of three sets is timed in process CPU time and weighed in the units
// it charged (ShaderCompiler::workCharged, every attempt of the compile):
// - the shared corpus: each HLSL entry at every profile of its stage,
//   optimised and not;
// - generated programs of the test generator (flow control at every profile,
//   nested uniform loops, counted loops side by side), as compile_digest
//   draws them;
// - every reproducer under shared/repro beside the checkout, at every profile
//   of its stage both ways (the pixel programs of the newest folder also as
//   vertex functions).
// Prints per set and over all the CPU seconds per million units of the
// compiles of 50 ms or more, the largest rate over the smallest, and the
// slowest compile. The meter bounds a compile's time only where that spread
// stays small. With --table: two rows for scripts/bench, the spread against
// 4 and the slowest compile against 3 s.
// With --list: a line per compile (name, ms, units, s per million units).
// With --repeat N: the sets measured N times over, each compile's least time
// kept (the host's load varies over minutes). With --match TEXT (repeatable):
// only the compiles whose name holds one of the texts.
//   shader_meter_bench [--table] [--list] [--generated N] [--sets corpus,generated,repro]
//                      [--repeat N] [--match TEXT]...
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_ratio.h"
#include "bench/shader_compile_speed.h"
#include "bench/shader_corpus.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/support/hlslgen/hlslgen.h"

namespace {

namespace fs = std::filesystem;

const char* const kVertex[] = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
const char* const kPixel[] = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4", "ps_2_0",
                              "ps_2_a", "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"};
constexpr double kCountedMilliseconds = 50;

double CpuMilliseconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Measure {
  std::string name;
  double milliseconds = 0;
  std::uint64_t units = 0;
  double Rate() const { return milliseconds / 1e3 / (static_cast<double>(units) / 1e6); }
};

// The compiles to measure: those whose name holds one of the texts (all
// where none is given).
struct Selection {
  std::vector<std::string> match;
  bool Takes(const std::string& name) const {
    return match.empty() || std::any_of(match.begin(), match.end(),
                                        [&](const std::string& t) { return name.find(t) != std::string::npos; });
  }
};

// One compile as the entry points make it, with the compiler's own meter
// read; nothing where the selection leaves it out.
void CompileOnce(std::vector<Measure>& out, const Selection& selection, const std::string& name,
                 const std::string& text, const std::string& path, const char* entry, const char* profile,
                 DWORD options) {
  if (!selection.Takes(name)) return;
  Measure m{name};
  const double start = CpuMilliseconds();
  gxl::shader::ShaderPreprocessor pp;
  const HRESULT hr = path.empty() ? pp.StartFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr)
                                  : pp.StartFromFile(path.c_str(), false, nullptr, nullptr);
  if (SUCCEEDED(hr)) {
    gxl::shader::ShaderCompiler compiler;
    gxl::ComRef<DataBuffer> code;
    compiler.CompileSource(&pp, nullptr, entry, 0, profile, options, code.Put(), nullptr);
    m.units = compiler.workCharged;
  }
  m.milliseconds = CpuMilliseconds() - start;
  out.push_back(std::move(m));
}

void AtEveryProfile(std::vector<Measure>& out, const Selection& selection, const std::string& name,
                    const std::string& text, const std::string& path, const char* entry, bool vertex) {
  for (const char* profile : vertex ? std::vector<const char*>(std::begin(kVertex), std::end(kVertex))
                                    : std::vector<const char*>(std::begin(kPixel), std::end(kPixel)))
    for (const DWORD options : {DWORD{0}, DWORD{0x4}})
      CompileOnce(out, selection, name + " " + profile + (options ? " noopt" : ""), text, path, entry, profile,
                  options);
}

std::vector<Measure> Corpus(const Selection& selection) {
  std::vector<Measure> out;
  for (const compilespeed::Cell& c : compilespeed::CorpusCells())
    CompileOnce(out, selection, c.name, c.text, c.path, c.entry, c.profile, c.flags);
  return out;
}

// The generator's three families, as compile_digest's `generated` draws them.
std::vector<Measure> Generated(const Selection& selection, std::uint32_t count) {
  std::vector<Measure> out;
  for (std::uint32_t seed = 0; seed < count; ++seed) {
    const bool pixel = seed % 2 == 1;
    const hlslgen::Generator g(0xD16E0000u + seed, hlslgen::DigestShapes(seed, pixel));
    AtEveryProfile(out, selection, "generated " + std::to_string(seed), g.UniformProgram(pixel), "", "main",
                   !pixel);
  }
  return out;
}

// Every .hlsl under shared/repro beside the checkout, at its stage.
std::vector<Measure> Reproducers(const Selection& selection) {
  std::vector<Measure> out;
  const fs::path corpus = shaderbench::CorpusDir();
  if (corpus.empty()) return out;
  const fs::path repro = corpus.parent_path().parent_path() / "repro";
  if (!fs::exists(repro)) return out;
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(repro))
    if (entry.is_regular_file() && entry.path().extension() == ".hlsl") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const std::string text = shaderbench::ReadText(file);
    const std::string name = fs::relative(file, repro).string();
    const bool vertex = text.find(": POSITION") != std::string::npos && text.find(") : COLOR") == std::string::npos;
    AtEveryProfile(out, selection, name, text, "", "main", vertex);
    // The newest folder's pixel programs were also tried as vertex functions.
    if (!vertex && name.rfind("sh-mend-4/", 0) == 0) {
      std::string asVertex = text;
      for (std::size_t at; (at = asVertex.find(") : COLOR")) != std::string::npos;)
        asVertex.replace(at, 9, ") : POSITION");
      AtEveryProfile(out, selection, name + " (vertex)", asVertex, "", "main", true);
    }
  }
  return out;
}

struct Summary {
  std::size_t compiles = 0, counted = 0;
  double least = 0, most = 0, median = 0;
  Measure lowest, highest, slowest;
};

Summary Summarise(const std::vector<Measure>& all) {
  Summary s;
  s.compiles = all.size();
  std::vector<const Measure*> counted;
  for (const Measure& m : all) {
    if (m.milliseconds > s.slowest.milliseconds) s.slowest = m;
    if (m.milliseconds >= kCountedMilliseconds && m.units) counted.push_back(&m);
  }
  s.counted = counted.size();
  if (counted.empty()) return s;
  std::sort(counted.begin(), counted.end(), [](const Measure* a, const Measure* b) { return a->Rate() < b->Rate(); });
  s.lowest = *counted.front();
  s.highest = *counted.back();
  s.least = s.lowest.Rate();
  s.most = s.highest.Rate();
  s.median = counted[counted.size() / 2]->Rate();
  return s;
}

void Print(const char* set, const Summary& s) {
  std::printf("%-10s %6zu compiles, %4zu of %.0f ms or more", set, s.compiles, s.counted, kCountedMilliseconds);
  if (s.counted)
    std::printf(": %.3f to %.3f s per million units (median %.3f), spread %.2f\n"
                "           least: %s (%.0f ms)\n           most:  %s (%.0f ms)\n",
                s.least, s.most, s.median, s.most / s.least, s.lowest.name.c_str(), s.lowest.milliseconds,
                s.highest.name.c_str(), s.highest.milliseconds);
  else
    std::printf("\n");
  std::printf("           slowest compile: %s, %.0f ms, %llu units\n", s.slowest.name.c_str(), s.slowest.milliseconds,
              static_cast<unsigned long long>(s.slowest.units));
}

}  // namespace

int main(int argc, char** argv) {
  const bool table = benchratio::TakeTableFlag(&argc, argv);
  std::uint32_t generated = 300;
  std::string sets = "corpus,generated,repro";
  bool list = false;
  std::uint32_t repeat = 1;
  Selection selection;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--list")) list = true;
    else if (!std::strcmp(argv[i], "--repeat") && i + 1 < argc)
      repeat = std::max(1u, static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10)));
    else if (!std::strcmp(argv[i], "--match") && i + 1 < argc)
      selection.match.push_back(argv[++i]);
    else if (!std::strcmp(argv[i], "--generated") && i + 1 < argc)
      generated = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    else if (!std::strcmp(argv[i], "--sets") && i + 1 < argc)
      sets = argv[++i];
  }
  std::vector<Measure> all;
  auto run = [&](const char* set, auto measure) {
    if (sets.find(set) == std::string::npos) return;
    std::vector<Measure> measures = measure();
    for (std::uint32_t again = 1; again < repeat; ++again) {
      const std::vector<Measure> more = measure();
      for (std::size_t k = 0; k < measures.size() && k < more.size(); ++k)
        measures[k].milliseconds = std::min(measures[k].milliseconds, more[k].milliseconds);
    }
    if (list)
      for (const Measure& m : measures)
        std::printf("compile\t%s\t%.1f\t%llu\t%.4f\n", m.name.c_str(), m.milliseconds,
                    static_cast<unsigned long long>(m.units), m.units ? m.Rate() : 0.0);
    Print(set, Summarise(measures));
    all.insert(all.end(), measures.begin(), measures.end());
  };
  run("corpus", [&] { return Corpus(selection); });
  run("generated", [&] { return Generated(selection, generated); });
  run("repro", [&] { return Reproducers(selection); });
  const Summary s = Summarise(all);
  Print("all", s);
  if (table) {
    char spread[32] = "-", slowest[64];
    if (s.counted) std::snprintf(spread, sizeof spread, "%.2f", s.most / s.least);
    std::snprintf(slowest, sizeof slowest, "%.0f ms", s.slowest.milliseconds);
    benchratio::PrintRow("shader meter: largest over smallest s per million units", spread, "-", "-", "<= 4",
                         s.counted ? benchratio::Met(s.most / s.least, 4) : "not measured");
    benchratio::PrintRow("shader meter: slowest compile (" + s.slowest.name + ")", slowest, "-", "-", "<= 3000 ms",
                         benchratio::Met(s.slowest.milliseconds, 3000));
  }
  return 0;
}
