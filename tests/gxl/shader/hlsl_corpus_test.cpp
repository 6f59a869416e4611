// The HLSL parser on the shared corpus, which other projects wrote and built
// with the compilers of their time: every source of the dialect parses without
// an error line, the sources written for a later dialect fail at their first
// foreign construct, single mutations give their message, and thousands of
// randomly mutated files give messages and nothing worse.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hlsl_parse_run.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/test_util.h"

namespace {

using shadertest::ParseRun;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool In(const std::string& path, const char* folder) { return path.find(folder) != std::string::npos; }

// The HLSL sources of the corpus by file name, with their paths.
std::map<std::string, std::string> HlslSources() {
  std::map<std::string, std::string> sources;
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles(true))
    if (!file.assembly) sources[Name(file.path)] = file.path;
  return sources;
}

// An allegro pixel source as its project compiles it: after its vertex
// source, with the technique the project appends.
std::string AllegroEffect(const std::map<std::string, std::string>& sources, const std::string& pixel) {
  const std::string vertex = pixel == "ex_prim_shader_pixel.hlsl" ? "ex_prim_shader_vertex.hlsl"
                             : pixel == "ex_prim_high_pixel.hlsl" ? "ex_prim_high_vertex.hlsl"
                                                                  : "ex_shader_vertex.hlsl";
  return ReadText(sources.at(vertex)) + "\n#line 1\n" + ReadText(sources.at(pixel)) +
         "\ntechnique TECH { pass p1 { VertexShader = compile vs_2_0 vs_main(); "
         "PixelShader = compile ps_2_0 ps_main(); } }\n";
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(GxlHlslCorpus, EveryDialectSourceParsesWithoutErrors) {
  const std::map<std::string, std::string> sources = HlslSources();
  if (sources.empty()) return shadertest::CorpusMissing();
  int parsed = 0;
  for (const auto& [name, path] : sources) {
    if (In(path, "/sdl/")) continue;
    const bool pixel = In(path, "/allegro5/") && name.find("_pixel") != std::string::npos;
    ParseRun run(pixel ? AllegroEffect(sources, name) : ReadText(path), shadertest::kParseOptions | 0x8);
    EXPECT_EQ(run.hr, S_OK) << path << "\n" << run.log;
    ASSERT_NE(run.tree, nullptr) << path;
    EXPECT_EQ(run.log.find("error"), std::string::npos) << path << "\n" << run.log;  // warnings may stand
    EXPECT_NE(run.tree->statements, nullptr) << path;
    ++parsed;
  }
  EXPECT_EQ(parsed, 19);  // irrlicht 1, allegro5 8, mame 10
  // The effect files hold their techniques.
  ParseRun primary(sources.at("primary.fx"), shadertest::kParseOptions, true);
  EXPECT_EQ(primary.tree->techniqueCount, 3u);
  EXPECT_EQ(primary.tree->untitledCounter, 6u);
}

TEST(GxlHlslCorpus, LaterDialectSourcesFailAtTheirFirstForeignConstruct) {
  const std::map<std::string, std::string> sources = HlslSources();
  if (sources.empty()) return shadertest::CorpusMissing();
  const std::string palette =
      "/sdl/D3D9_PixelShader_Palette.hlsli(2): error X3000: syntax error: unexpected token "
      "'Constants'";
  const struct {
    const char* file;
    std::string first;  // after the folder the file lies in
  } rows[] = {
      {"D3D9_PixelShader_Palette.hlsli", palette},
      {"D3D9_PixelShader_Palette_Nearest.hlsl", palette},  // in the file it includes
      {"D3D9_PixelShader_Palette_Linear.hlsl", palette},
      {"D3D9_PixelShader_YUV.hlsl",
       "/sdl/D3D9_PixelShader_YUV.hlsl(2): error X3000: syntax error: unexpected token "
       "'theTextureY'"},
  };
  for (const auto& row : rows) {
    ParseRun run(sources.at(row.file), shadertest::kParseOptions, true);  // from the file: its include resolves
    EXPECT_EQ(run.hr, E_FAIL) << row.file;
    EXPECT_EQ(run.tree, nullptr) << row.file;
    const std::string first = run.First();
    EXPECT_EQ(first.substr(first.rfind("/sdl/") == std::string::npos ? 0 : first.rfind("/sdl/")), row.first) << run.log;
    EXPECT_EQ(Occurrences(run.log, "X3000"), 1u) << run.log;
  }
}

// One mutation of a corpus line, and the first message it gives.
TEST(GxlHlslCorpus, MutationsGiveTheirMessage) {
  const std::map<std::string, std::string> sources = HlslSources();
  if (sources.empty()) return shadertest::CorpusMissing();
  const struct {
    const char* file;
    int line;
    const char* from;  // empty: the line is replaced
    const char* to;
    const char* first;
  } rows[] = {
      {"primary.fx", 62, "(VS_OUTPUT)0;", "(VS_OUTPUT)0", "(64): error X3000: syntax error: unexpected token 'Output'"},
      {"primary.fx", 73, "Input.Color;", "Input.Color << 2;", "(73): error X3000: syntax error: unexpected token '<<'"},
      {"chroma.fx", 101, "const float Y", "break; const float Y",
       "(101): error X3000: syntax error: unexpected token 'break'"},
      {"primary.fx", 73, "Input.Color;", "Inptu.Color;", "(73): error X3004: undeclared identifier 'Inptu'"},
      {"primary.fx", 119, "Input.TexCoord)", "Input.TexCoord, Input.TexCoord)",
       "(119): error X3013: 'tex2D': intrinsic function does not take 3 parameters"},
      {"primary.fx", 64, ".xyz,", ".xyzw,", "(64): error X3018: invalid subscript 'xyzw'"},
      {"primary.fx", 78, "vs_vector_buffer_main", "vs_screen_main",
       "(78): error X3069: 'vs_screen_main' already has a body"},
      {"primary.fx", 58, "uniform bool", "static uniform bool",
       "(58): error X3007: 'VectorScreen': uniform global variables cannot be declared 'static'"},
      {"primary.fx", 57, "", "float a[0];", "(57): error X3059: 'a': array dimension must be between 1 and 65536"},
      {"primary.fx", 60, "VS_OUTPUT vs_screen_main", "void vs_screen_main",
       "(75): error X3079: 'vs_screen_main': void functions cannot return a value"},
      {"primary.fx", 75, "return Output;", "return;",
       "(75): error X3080: 'vs_screen_main': function must return a value"},
      {"primary.fx", 52, "1.0e-7f", "sqrt(-1)", "(52): error X3031: imaginary square root"},
      {"ghosting.fx", 107, "{ 0.0f, 0.0f, 0.0f }", "{ 0.0f, 0.0f }",
       "(107): error X3017: 'tau': cannot convert from 'struct{2}' to 'float3'"},
      {"ntsc.fx", 1, "", "#error stop", "(1): error: stop"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> lines;
    std::istringstream in(ReadText(sources.at(row.file)));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::string& line = lines.at(static_cast<std::size_t>(row.line - 1));
    const std::size_t at = *row.from ? line.find(row.from) : 0;
    ASSERT_NE(at, std::string::npos) << row.file << " " << row.line;
    line = *row.from ? line.replace(at, std::strlen(row.from), row.to) : row.to;
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    ParseRun run(text);
    EXPECT_EQ(run.hr, E_FAIL) << row.to;
    EXPECT_EQ(run.First(), row.first) << row.to << "\n" << run.log;
  }
  // The preprocessor's error stands alone: the end of input after it is no syntax error.
  std::string stopped = ReadText(sources.at("primary.fx"));
  stopped.insert(stopped.find("VS_OUTPUT vs_screen_main"), "#error stop\n");
  EXPECT_EQ(ParseRun(stopped).log, "(60): error: stop\n");
}

// Random edits of the corpus: deleted, repeated and inserted stretches and
// tokens. Each parse ends with messages or a tree, never a crash (the
// sanitizers watch), a stray internal error or an accepted source with errors.
TEST(GxlHlslCorpus, MutatedFilesGiveMessagesOnly) {
  const std::map<std::string, std::string> sources = HlslSources();
  if (sources.empty()) return shadertest::CorpusMissing();
  std::vector<std::string> texts;
  for (const auto& [name, path] : sources)
    texts.push_back(In(path, "/allegro5/") && name.find("_pixel") != std::string::npos ? AllegroEffect(sources, name)
                                                                                       : ReadText(path));
  const char* const pieces[] = {"{",
                                "}",
                                "(",
                                ")",
                                ";",
                                ",",
                                "<",
                                ">",
                                "[",
                                "]",
                                "=",
                                ":",
                                "?",
                                ".",
                                "asm {",
                                "asm_fragment {",
                                "decl {",
                                "sampler_state {",
                                "struct",
                                "typedef",
                                "for (",
                                "if (",
                                "else",
                                "compile ps_2_0",
                                "technique",
                                "pass",
                                "return",
                                "0",
                                "1.5",
                                "\"s\"",
                                "float4",
                                "x",
                                "static",
                                "uniform",
                                "in",
                                "out",
                                "register(c0)",
                                "vs_1_1",
                                "#define",
                                "\n#if 0\n",
                                "'",
                                "\\",
                                "/*",
                                "texture",
                                "discard",
                                "while",
                                "do",
                                "break",
                                "2D",
                                "<<",
                                "++"};
  std::mt19937 random(20240611);
  int accepted = 0;
  for (int i = 0; i < nura::test::LongOrShare(10000, 1000); ++i) {
    std::string text = texts[random() % texts.size()];
    for (int edits = 1 + static_cast<int>(random() % 3); edits > 0; --edits) {
      const std::size_t at = random() % (text.size() + 1);
      const std::size_t length = random() % 24;
      switch (random() % 4) {
        case 0:
          text.erase(at, length);
          break;
        case 1:
          text.insert(at, text.substr(at, length));
          break;
        case 2:
          text.insert(at, std::string(" ") + pieces[random() % std::size(pieces)] + " ");
          break;
        default:
          text.insert(at, 1, static_cast<char>(random() % 128));
          break;
      }
    }
    ParseRun run(text);
    ASSERT_TRUE(run.hr == S_OK || run.hr == E_FAIL) << text;
    if (run.hr == S_OK) {
      ++accepted;
      EXPECT_NE(run.tree, nullptr);
      EXPECT_EQ(run.log.find("error"), std::string::npos) << text << "\n" << run.log;
    } else {
      EXPECT_EQ(run.tree, nullptr);
      EXPECT_NE(run.log.find("error"), std::string::npos) << text;
      EXPECT_EQ(run.log.find("internal error"), std::string::npos) << text << "\n" << run.log;
    }
  }
  EXPECT_GT(accepted, 0);  // some edits (in comments, say) leave a valid source
}

}  // namespace
