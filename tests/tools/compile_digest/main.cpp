// Prints a line per compile: what was compiled, the result code and digests
// of the code and the messages. Two compilers' outputs over the same inputs
// differ exactly where their lines do (diff them).
//   compile_digest [reference] [upkeep N [check]] [corpus] [generated N]
// corpus: every HLSL entry of the shared corpus at every profile of its stage;
// generated: N programs of the test generator (flow control, nested uniform
// loops, counted loops side by side) at the profiles of their stage. Both
// with and without optimisation. upkeep N: the optimiser's rounds run
// incrementally from programs of N instructions on (0: every program), and
// with check each such pass is also run in full and compared; the passes so
// run and the differences found go to stderr at the end. reference: the
// compiler's reference switch (ShaderProgram::referenceSearches), whose plain
// full searches must give the same code as the incremental ones.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/compiler/shader_compiler.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "tests/support/hlslgen/hlslgen.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/shader/corpus_refs/corpus_refs.h"

namespace {

const char* const kVertex[] = {"vs_1_1", "vs_2_0", "vs_2_a", "vs_2_sw", "vs_3_0", "vs_3_sw"};
const char* const kPixel[] = {"ps_1_1", "ps_1_2", "ps_1_3", "ps_1_4", "ps_2_0",
                              "ps_2_a", "ps_2_b", "ps_2_sw", "ps_3_0", "ps_3_sw"};

std::uint64_t Digest(const void* data, std::size_t size) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < size; ++i) h = (h ^ static_cast<const unsigned char*>(data)[i]) * 0x100000001b3ull;
  return h;
}

// How compiles run: through the entry points, or (with an upkeep setting)
// as they run them with the compiler's test switches set.
struct Settings {
  bool direct = false;
  std::uint32_t upkeepFrom = 0;
  bool check = false;
  bool reference = false;
  std::uint64_t passes = 0, mismatches = 0;
};

// One compile as CompileRun makes it, with the switches set.
HRESULT CompileDirect(const std::string& source, const std::string& path, const char* entry, const char* profile,
                      DWORD options, Settings& settings, gxl::ComRef<DataBuffer>& code,
                      gxl::ComRef<DataBuffer>& messages) {
  gxl::shader::ShaderPreprocessor pp;
  HRESULT hr = path.empty() ? pp.StartFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr)
                            : pp.StartFromFile(path.c_str(), false, nullptr, nullptr);
  gxl::ComRef<DataBuffer> produced;
  gxl::ComRef<ConstantTable> table;
  if (SUCCEEDED(hr)) {
    gxl::shader::ShaderCompiler compiler;
    compiler.roundUpkeepFrom = settings.upkeepFrom;
    compiler.checkRoundUpkeep = settings.check;
    compiler.referenceSearches = settings.reference;
    hr = compiler.CompileSource(&pp, nullptr, entry, 0, profile, options | 0x100, produced.Put(), table.Put());
    settings.passes += compiler.roundUpkeepPasses;
    settings.mismatches += compiler.roundUpkeepMismatches;
    if (compiler.roundUpkeepMismatches)
      std::fprintf(stderr, "compile_digest: %u differences at %s %s %u\n", compiler.roundUpkeepMismatches, entry,
                   profile, static_cast<unsigned>(options));
  }
  if (SUCCEEDED(hr)) {
    if (pp.Log().ErrorCount() != 0)
      hr = GXLERR_INVALIDDATA;
    else
      code = std::move(produced);
  }
  pp.Log().JoinMessages(messages.Put());
  return hr;
}

void CompileAndPrint(const std::string& key, const std::string& source, const std::string& path, const char* entry,
                     const char* profile, Settings& settings) {
  for (const DWORD options : {0u, 4u}) {
    gxl::ComRef<DataBuffer> code, messages;
    const HRESULT hr =
        settings.direct   ? CompileDirect(source, path, entry, profile, options, settings, code, messages)
        : path.empty()    ? CompileShaderFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr,
                                                    entry, profile, options, code.Put(), messages.Put(), nullptr)
                          : CompileShaderFromFileA(path.c_str(), nullptr, nullptr, entry, profile, options,
                                                   code.Put(), messages.Put(), nullptr);
    const std::uint64_t c = code ? Digest(code->GetPointer(), code->GetSize()) : 0;
    const std::uint64_t m = messages ? Digest(messages->GetPointer(), messages->GetSize()) : 0;
    std::printf("%s %s %u\t%08x %016llx %016llx\n", key.c_str(), profile, static_cast<unsigned>(options),
                static_cast<unsigned>(hr), static_cast<unsigned long long>(c), static_cast<unsigned long long>(m));
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Corpus(Settings& settings) {
  const std::string root = shadertest::CorpusRoot();
  if (root.empty()) {
    std::fprintf(stderr, "compile_digest: no shader corpus\n");
    return 1;
  }
  for (const corpusref::Entry& e : corpusref::Entries()) {
    if (!e.entry) continue;
    std::string source = ReadFile(root + "/" + e.file), path = root + "/" + e.file;
    if (e.partner) {  // joined as the corpus tests join them
      source = ReadFile(root + "/" + e.partner) + "\n#line 1\n" + source +
               "\ntechnique TECH { pass p1 { VertexShader = compile vs_2_0 vs_main(); "
               "PixelShader = compile ps_2_0 ps_main(); } }\n";
      path.clear();
    }
    const bool vertex = e.stage == corpusref::Stage::kVertex;
    for (const char* profile : vertex ? std::vector<const char*>(std::begin(kVertex), std::end(kVertex))
                                      : std::vector<const char*>(std::begin(kPixel), std::end(kPixel)))
      CompileAndPrint(std::string(e.file) + " " + e.entry, source, path, e.entry, profile, settings);
  }
  return 0;
}

// Three families by seed: flow control at every profile, nested uniform
// loops, and counted loops side by side.
void Generated(std::uint32_t count, Settings& settings) {
  for (std::uint32_t seed = 0; seed < count; ++seed) {
    const bool pixel = seed % 2 == 1;
    const hlslgen::Generator g(0xD16E0000u + seed, hlslgen::DigestShapes(seed, pixel));
    const std::string source = g.UniformProgram(pixel);
    for (const char* profile : pixel ? std::vector<const char*>(std::begin(kPixel), std::end(kPixel))
                                     : std::vector<const char*>(std::begin(kVertex), std::end(kVertex)))
      CompileAndPrint("generated " + std::to_string(seed), source, "", "main", profile, settings);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  Settings settings;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "corpus")) {
      status |= Corpus(settings);
    } else if (!std::strcmp(argv[i], "generated") && i + 1 < argc) {
      Generated(static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10)), settings);
    } else if (!std::strcmp(argv[i], "upkeep") && i + 1 < argc) {
      settings.direct = true;
      settings.upkeepFrom = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (!std::strcmp(argv[i], "check")) {
      settings.check = true;
    } else if (!std::strcmp(argv[i], "reference")) {
      settings.direct = settings.reference = true;
    } else {
      std::fprintf(stderr, "usage: compile_digest [reference] [upkeep N [check]] [corpus] [generated N]\n");
      return 2;
    }
  }
  if (settings.direct)
    std::fprintf(stderr, "compile_digest: %llu passes incremental, %llu differences\n",
                 static_cast<unsigned long long>(settings.passes), static_cast<unsigned long long>(settings.mismatches));
  return status;
}
