// Whole compiles whose cost must grow with the program as a compiler's
// should, for shader_bench: every HLSL entry of the shared corpus at every
// profile of its stage, optimised and not (the total, and the slowest single
// compile); ntsc's pixel entry at ps_2_b, whose second phase is retried in
// the lowered order; a chain of 400 to 3,200 dependent statements at vs_3_0 and
// ps_3_0; three nested constant loops of 2,048 statements in all, unrolled
// at ps_2_0 (which ends in the validator's slot limit); a loop that never
// ends within the 1,024 iterations unrolling allows (X3511); and the nested
// triangle for (i < n) for (j < i) a = a * 0.5 + t unrolled at ps_2_0, whose
// n(n - 1) / 2 passes the optimiser takes through a hundred rounds that each
// change one of them; and two counters stepping alike through 500 and 1,000
// unrolled passes without the optimiser; loops kept around long unrolled
// bodies and branches in unrolled loops (FlowShape). Each compile goes through the public entry points,
// validated, as a caller's does.
#pragma once

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/shader_corpus.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/data_buffer.h"

namespace compilespeed {

using shaderbench::CorpusDir;
using shaderbench::ReadText;

inline double CpuMilliseconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// One compile; its result is not judged (refusals count as answers).
inline void CompileOnce(const std::string& text, const std::string& path, const char* entry, const char* profile,
                        DWORD flags) {
  DataBuffer *code = nullptr, *messages = nullptr;
  if (path.empty())
    CompileShaderFromMemory(text.data(), static_cast<UINT>(text.size()), nullptr, nullptr, entry, profile, flags,
                            &code, &messages, nullptr);
  else
    CompileShaderFromFileA(path.c_str(), nullptr, nullptr, entry, profile, flags, &code, &messages, nullptr);
  if (code) code->Release();
  if (messages) messages->Release();
}

// --- The corpus ------------------------------------------------------------------------

struct Cell {
  std::string name;  // "file entry profile flags"
  std::string path;  // compiled from the file, includes beside it
  std::string text;  // else from this text
  const char* entry;
  const char* profile;
  DWORD flags;
};

inline const std::vector<Cell>& CorpusCells() {
  static const std::vector<Cell> cells = [] {
    std::vector<Cell> out;
    const std::filesystem::path corpus = CorpusDir();
    if (corpus.empty()) return out;
    struct Entry {
      const char* file;
      const char* entry;
      bool vertex;
      const char* partner;  // Allegro's pixel halves are compiled after their vertex half
    };
    static constexpr Entry kEntries[] = {
        {"allegro5/ex_prim_high_vertex.hlsl", "vs_main", true, nullptr},
        {"allegro5/ex_prim_shader_vertex.hlsl", "vs_main", true, nullptr},
        {"allegro5/ex_shader_vertex.hlsl", "vs_main", true, nullptr},
        {"allegro5/ex_prim_high_pixel.hlsl", "ps_main", false, "allegro5/ex_prim_high_vertex.hlsl"},
        {"allegro5/ex_prim_shader_pixel.hlsl", "ps_main", false, "allegro5/ex_prim_shader_vertex.hlsl"},
        {"allegro5/ex_prim_wrap_pixel.hlsl", "ps_main", false, "allegro5/ex_shader_vertex.hlsl"},
        {"allegro5/ex_shader_multitex_pixel.hlsl", "ps_main", false, "allegro5/ex_shader_vertex.hlsl"},
        {"allegro5/ex_shader_pixel.hlsl", "ps_main", false, "allegro5/ex_shader_vertex.hlsl"},
        {"irrlicht/d3d9.hlsl", "vertexMain", true, nullptr},
        {"irrlicht/d3d9.hlsl", "pixelMain", false, nullptr},
        {"mame/bloom.fx", "vs_main", true, nullptr},
        {"mame/bloom.fx", "ps_main", false, nullptr},
        {"mame/chroma.fx", "vs_main", true, nullptr},
        {"mame/chroma.fx", "ps_main", false, nullptr},
        {"mame/distortion.fx", "vs_main", true, nullptr},
        {"mame/distortion.fx", "ps_main", false, nullptr},
        {"mame/focus.fx", "vs_main", true, nullptr},
        {"mame/focus.fx", "ps_main", false, nullptr},
        {"mame/ghosting.fx", "vs_main", true, nullptr},
        {"mame/ghosting.fx", "ps_main", false, nullptr},
        {"mame/ntsc.fx", "vs_main", true, nullptr},
        {"mame/ntsc.fx", "ps_main", false, nullptr},
        {"mame/phosphor.fx", "vs_main", true, nullptr},
        {"mame/phosphor.fx", "ps_main", false, nullptr},
        {"mame/post.fx", "vs_main", true, nullptr},
        {"mame/post.fx", "ps_main", false, nullptr},
        {"mame/primary.fx", "vs_screen_main", true, nullptr},
        {"mame/primary.fx", "vs_vector_buffer_main", true, nullptr},
        {"mame/primary.fx", "vs_ui_main", true, nullptr},
        {"mame/primary.fx", "ps_screen_main", false, nullptr},
        {"mame/primary.fx", "ps_vector_buffer_main", false, nullptr},
        {"mame/primary.fx", "ps_ui_main", false, nullptr},
        {"mame/vector.fx", "vs_main", true, nullptr},
        {"mame/vector.fx", "ps_main", false, nullptr},
        {"sdl/D3D9_PixelShader_Palette_Linear.hlsl", "main", false, nullptr},
        {"sdl/D3D9_PixelShader_Palette_Nearest.hlsl", "main", false, nullptr},
        {"sdl/D3D9_PixelShader_YUV.hlsl", "main", false, nullptr},
    };
    static constexpr const char* kVertex[] = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
    static constexpr const char* kPixel[] = {"ps_1_1", "ps_1_2", "ps_1_3",  "ps_1_4", "ps_2_0",
                                             "ps_2_a", "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"};
    for (const Entry& e : kEntries) {
      std::string path = (corpus / e.file).string(), text;
      if (e.partner) {
        text = ReadText(corpus / e.partner) + "\n#line 1\n" + ReadText(corpus / e.file) +
               "\ntechnique TECH { pass p1 { VertexShader = compile vs_2_0 vs_main(); "
               "PixelShader = compile ps_2_0 ps_main(); } }\n";
        path.clear();
      }
      for (const char* profile : e.vertex ? std::vector<const char*>(std::begin(kVertex), std::end(kVertex))
                                          : std::vector<const char*>(std::begin(kPixel), std::end(kPixel)))
        for (DWORD flags : {DWORD{0}, DWORD{0x4}})
          out.push_back({std::string(e.file) + " " + e.entry + " " + profile + (flags ? " noopt" : ""), path, text,
                         e.entry, profile, flags});
    }
    return out;
  }();
  return cells;
}

inline void BM_CompileCorpus(benchmark::State& state) {
  const std::vector<Cell>& cells = CorpusCells();
  if (cells.empty()) return state.SkipWithError("no corpus");
  for (auto _ : state)
    for (const Cell& c : cells) CompileOnce(c.text, c.path, c.entry, c.profile, c.flags);
  state.counters["compiles"] = static_cast<double>(cells.size());
}

// The slowest cell of the corpus (of those whose name `keep` takes), each
// timed as the least of three compiles.
template <class Keep>
inline std::pair<std::string, double> SlowestCorpusCell(Keep keep) {
  std::pair<std::string, double> slowest{"-", 0};
  for (const Cell& c : CorpusCells()) {
    if (!keep(c.name)) continue;
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
      const double start = CpuMilliseconds();
      CompileOnce(c.text, c.path, c.entry, c.profile, c.flags);
      best = std::min(best, CpuMilliseconds() - start);
    }
    if (best > slowest.second) slowest = {c.name, best};
  }
  return slowest;
}
inline std::pair<std::string, double> SlowestCorpusCell() {
  return SlowestCorpusCell([](const std::string&) { return true; });
}

// mame/ntsc.fx ps_main at ps_2_b optimised: the scheduler's order passes
// the temporaries, so the second phase retries its steps 11 on in the
// lowered order, which fits them (and pairs colour with alpha over a hundred
// trials) before the constants refuse the program. Counters: the process
// milliseconds of the first attempt's steps 11 on and of the retry's, and
// the whole compile's as the time.
struct RetryClock {
  int phases = 0;
  bool retrying = false;
  double mark = 0, first = 0, retry = 0;
};
inline thread_local RetryClock retryClock;

inline HRESULT TimeRetry(gxl::shader::ShaderProgram&, std::uint32_t step, HRESULT status) {
  RetryClock& c = retryClock;
  const double now = CpuMilliseconds();
  // Step 10 ends the steps both attempts share; only the first program's
  // second phase counts (not a compile made again after it).
  if (step == 10 && ++c.phases == 1) c.mark = now;
  if (c.phases != 1 || step <= 10) return status;
  (c.retrying ? c.retry : c.first) += now - c.mark;
  c.mark = now;
  if (FAILED(status)) c.retrying = true;
  return status;
}

inline void BM_CompileNtscRetry(benchmark::State& state) {
  const std::filesystem::path corpus = CorpusDir();
  if (corpus.empty()) return state.SkipWithError("no corpus");
  const std::string path = (corpus / "mame/ntsc.fx").string();
  double first = 0, retry = 0;
  for (auto _ : state) {
    gxl::shader::ShaderPreprocessor pp;
    gxl::shader::ShaderCompiler compiler;
    compiler.secondPhaseStepHook = TimeRetry;
    retryClock = {};
    DataBuffer* code = nullptr;
    if (SUCCEEDED(pp.StartFromFile(path.c_str(), false, nullptr, nullptr)))
      compiler.CompileSource(&pp, nullptr, "ps_main", 0, "ps_2_b", 0x100, &code, nullptr);
    if (code) code->Release();
    first += retryClock.first;
    retry += retryClock.retry;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["first_ms"] = first / n;
  state.counters["retry_ms"] = retry / n;
}

// --- Generated programs ------------------------------------------------------------------

// `n` statements, each reading the one before: r = r * k[i % 8].swz + a.swz.
inline std::string Chain(int n, bool pixel) {
  const char* swizzles[] = {"xyzw", "yzwx", "zwxy", "wxyz", "xxyy", "zzww"};
  std::string text = std::string("float4 k[8];\nfloat4 main(float4 a : TEXCOORD0) : ") +
                     (pixel ? "COLOR" : "POSITION") + " {\n  float4 r = a;\n";
  for (int i = 0; i < n; ++i)
    text += "  r = r * k[" + std::to_string(i % 8) + "]." + swizzles[i % 6] + " + a." + swizzles[(i / 6) % 6] + ";\n";
  return text + "  return r;\n}\n";
}

// Arguments: the statements, and 0 for vs_3_0 or 1 for ps_3_0.
inline void BM_CompileChain(benchmark::State& state) {
  const bool pixel = state.range(1) != 0;
  const std::string text = Chain(static_cast<int>(state.range(0)), pixel);
  for (auto _ : state) CompileOnce(text, "", "main", pixel ? "ps_3_0" : "vs_3_0", 0);
}

// Three nested constant loops, 8 x 8 x n/64 statements when unrolled.
inline void BM_CompileNestedLoops(benchmark::State& state) {
  const std::string text = "float4 k[8];\nfloat4 main(float4 a : TEXCOORD0) : COLOR {\n  float4 r = a;\n"
                           "  for (int i = 0; i < 8; i++)\n    for (int j = 0; j < 8; j++)\n"
                           "      for (int m = 0; m < " +
                           std::to_string(state.range(0) / 64) +
                           "; m++)\n        r = r * k[(i + j) % 8] + a;\n  return r;\n}\n";
  for (auto _ : state) CompileOnce(text, "", "main", "ps_2_0", 0);
}

// A loop of 4,096 iterations of eight statements at ps_2_0: refused with
// X3511 once unrolling reaches 1,024 iterations.
inline void BM_CompileLoopRefusal(benchmark::State& state) {
  const char* swizzles[] = {"xyzw", "yzwx", "zwxy", "wxyz"};
  std::string text = "float4 k[8];\nfloat4 main(float4 a : TEXCOORD0) : COLOR {\n  float4 r = a;\n"
                     "  for (int i = 0; i < 4096; i++) {\n";
  for (int j = 0; j < 8; ++j)
    text += "    r = r * k[(i + " + std::to_string(j) + ") % 8]." + swizzles[j % 4] + " + a." + swizzles[(j + 1) % 4] +
            ";\n";
  text += "  }\n  return r;\n}\n";
  for (auto _ : state) CompileOnce(text, "", "main", "ps_2_0", 0);
}

// The nested triangle of n at ps_2_0: the passes settle at 2t, two
// instructions, after some hundred rounds over the unrolled program.
inline void BM_CompileTriangle(benchmark::State& state) {
  const std::string text = "float4 main(float4 t : TEXCOORD0) : COLOR {\n  float4 a = t;\n  for (int i = 0; i < " +
                           std::to_string(state.range(0)) +
                           "; i++)\n    for (int j = 0; j < i; j++)\n      a = a * 0.5 + t;\n  return a;\n}\n";
  for (auto _ : state) CompileOnce(text, "", "main", "ps_2_0", 0);
}

// Two float counters stepping alike in a constant loop of n passes, each
// read by an accumulator, at ps_3_0 without the optimiser (past 255 passes
// the loop is unrolled): the second phase merges the counters' chains, whose
// links become equal one after another as the ones before them merge.
inline void BM_CompileCounters(benchmark::State& state) {
  const std::string text = "float4 main(float4 t : TEXCOORD0) : COLOR {\n  float4 a = t, b = t;\n  float x = 0, y = 0;\n"
                           "  for (int i = 0; i < " +
                           std::to_string(state.range(0)) +
                           "; i++) {\n    x = x + 1;\n    y = y + 1;\n    a = a * 0.5 + t * x;\n"
                           "    b = b * 0.25 + t * y;\n  }\n  return a + b;\n}\n";
  for (auto _ : state) CompileOnce(text, "", "main", "ps_3_0", 0x4);
}

// Loops kept around long unrolled bodies, and branches in unrolled loops,
// each a = a * 0.5 + t per pass: the rectangle for (i < n) for (j < n / 2)
// and the cube for (i < n) for (j < n) for (k < n), which the profiles with
// loops keep partly as loops, and the triangle for (i < n) for (j < i) with
// a branch on data in its body, which ps_2_0 unrolls. Arguments: the shape
// (0 rectangle, 1 cube, 2 triangle with a branch), n, and 1 for the vertex
// stage (vs_3_0, or vs_2_0 for the triangle) rather than the pixel stage.
inline std::string FlowShape(int shape, int n, bool vertex) {
  const std::string bound = std::to_string(n);
  std::string text = std::string("float4 main(float4 t : TEXCOORD0) : ") + (vertex ? "POSITION" : "COLOR") +
                     " {\n  float4 a = t;\n";
  switch (shape) {
    case 0:
      text += "  for (int i = 0; i < " + bound + "; i++)\n    for (int j = 0; j < " + std::to_string(n / 2) +
              "; j++)\n      a = a * 0.5 + t;\n";
      break;
    case 1:
      text += "  for (int i = 0; i < " + bound + "; i++)\n    for (int j = 0; j < " + bound +
              "; j++)\n      for (int k = 0; k < " + bound + "; k++)\n        a = a * 0.5 + t;\n";
      break;
    default:
      text += "  for (int i = 0; i < " + bound +
              "; i++)\n    for (int j = 0; j < i; j++) {\n      a = a * 0.5 + t;\n      if (a.x > t.x)\n"
              "        a += 1;\n    }\n";
      break;
  }
  return text + "  return a;\n}\n";
}

inline void BM_CompileFlowShape(benchmark::State& state) {
  const int shape = static_cast<int>(state.range(0));
  const bool vertex = state.range(2) != 0;
  const std::string text = FlowShape(shape, static_cast<int>(state.range(1)), vertex);
  const char* profile = shape == 2 ? (vertex ? "vs_2_0" : "ps_2_0") : (vertex ? "vs_3_0" : "ps_3_0");
  for (auto _ : state) CompileOnce(text, "", "main", profile, 0);
}

BENCHMARK(BM_CompileCorpus)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileNtscRetry)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileChain)->Args({400, 0})->Args({800, 0})->Args({400, 1})->Args({800, 1})->Args({1600, 0})
    ->Args({3200, 0})->Args({1600, 1})->Args({3200, 1})->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileTriangle)->Arg(100)->Arg(200)->Arg(250)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileCounters)->Arg(500)->Arg(1000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileNestedLoops)->Arg(2048)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileLoopRefusal)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CompileFlowShape)->Args({0, 125, 0})->Args({0, 250, 0})->Args({0, 250, 1})->Args({1, 20, 0})
    ->Args({1, 40, 0})->Args({1, 40, 1})->Args({2, 50, 0})->Args({2, 100, 0})->Args({2, 200, 0})->Args({2, 200, 1})
    ->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace compilespeed
