// Shader tools: 10^7 blocks of 16 bytes from the page pool and released with
// it, against malloc and free of the same blocks. Two pairs: allocation alone
// (malloc's blocks are freed from a list kept aside), and blocks in use, each
// linking to the one before it as list cells do, which adds the first touch
// of every page. Prints the time ratios after the runs.
// Then the lexer's throughput over the shared shader corpus repeated 100
// times (bytes per second as reported).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_ratio.h"
#include "gxl/shader/message_log.h"
#include "gxl/shader/page_pool.h"
#include "gxl/shader/source_lexer.h"

namespace {

constexpr int kBlocks = 10'000'000;

void BM_PoolAlloc16(benchmark::State& state) {
  for (auto _ : state) {
    PagePool pool(0x100000, 0x10000);
    PagePool* previous = SetCurrentPool(&pool);
    for (int i = 0; i < kBlocks; ++i) benchmark::DoNotOptimize(PoolAlloc(16));
    SetCurrentPool(previous);
    pool.FreeAll();
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

void BM_Malloc16(benchmark::State& state) {
  std::vector<void*> blocks(kBlocks);  // touched before the runs
  for (auto _ : state) {
    for (void*& p : blocks) benchmark::DoNotOptimize(p = std::malloc(16));
    for (void* p : blocks) std::free(p);
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

void BM_PoolAlloc16Linked(benchmark::State& state) {
  for (auto _ : state) {
    PagePool pool(0x100000, 0x10000);
    PagePool* previous = SetCurrentPool(&pool);
    void* last = nullptr;
    for (int i = 0; i < kBlocks; ++i) {
      void* p = PoolAlloc(16);
      if (!p) {
        state.SkipWithError("pool exhausted");
        break;
      }
      *static_cast<void**>(p) = last;
      last = p;
    }
    benchmark::DoNotOptimize(last);
    SetCurrentPool(previous);
    pool.FreeAll();
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

void BM_Malloc16Linked(benchmark::State& state) {
  for (auto _ : state) {
    void* last = nullptr;
    for (int i = 0; i < kBlocks; ++i) {
      void* p = std::malloc(16);
      if (!p) {
        state.SkipWithError("out of memory");
        break;
      }
      *static_cast<void**>(p) = last;
      last = p;
    }
    benchmark::DoNotOptimize(last);
    while (last) {
      void* before = *static_cast<void**>(last);
      std::free(last);
      last = before;
    }
  }
  state.SetItemsProcessed(state.iterations() * kBlocks);
}

// Every shader source of the corpus beside the checkout (or its worktree
// folder), one after another; empty when there is none.
std::string CorpusText() {
  namespace fs = std::filesystem;
  std::string text;
  for (const char* up : {"/..", "/../.."}) {
    const fs::path corpus = fs::path(NURA_SOURCE_DIR + std::string(up)) / "shared/corpus/shaders";
    if (!fs::exists(corpus)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".hlsl" && ext != ".fx" && ext != ".psh" && ext != ".vsh")) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      text += '\n';
    }
    break;
  }
  return text;
}

void BM_LexCorpus(benchmark::State& state) {
  const std::string corpus = CorpusText();
  if (corpus.empty()) {
    state.SkipWithError("no corpus");
    return;
  }
  std::string text;
  for (int i = 0; i < 100; ++i) text += corpus;
  std::size_t tokens = 0;
  for (auto _ : state) {
    PagePool pool(0x100000, 0x10000);
    gxl::shader::MessageLog log;
    gxl::shader::SourceLexer lexer;
    lexer.Init(text.data(), static_cast<std::uint32_t>(text.size()), "corpus", 1, &pool, &log);
    SourceToken token;
    while (lexer.ScanToken(1, &token) == S_OK && token.kind != kTokenEndOfInput) ++tokens;
    benchmark::DoNotOptimize(tokens);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_PoolAlloc16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Malloc16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoolAlloc16Linked)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Malloc16Linked)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LexCorpus)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return benchratio::RunAndPrintRatios(argc, argv, {
      {"10^7 PoolAlloc(16) and FreeAll / malloc(16) and free", "BM_PoolAlloc16", "BM_Malloc16"},
      {"the same, blocks linked / malloc's linked", "BM_PoolAlloc16Linked", "BM_Malloc16Linked"},
  });
}
