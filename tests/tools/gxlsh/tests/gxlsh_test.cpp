#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "tests/support/shader/goldens.h"
#include "tests/support/test_util.h"
#include "tests/tools/gxlsh/gxlsh.h"

namespace nura::gxlsh {
namespace {

struct Result {
  int status;
  std::string out, err;
};

Result Call(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = Main(args, out, err);
  return {status, out.str(), err.str()};
}

void WriteBinary(const std::string& path, const std::vector<std::uint32_t>& words) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t w : words)
    for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
  test::WriteFileBytes(path, bytes);
}

TEST(Gxlsh, DisPrintsTheGoldensFromHexAndBinaryFiles) {
  test::TempDir dir;
  for (const shtok::Golden& g : shtok::Goldens()) {
    test::WriteFileText(dir / "g.hex", std::string("# ") + g.name + "\n" + g.tokens + "\n");
    WriteBinary(dir / "g.bin", shtok::Tokens(g.tokens));
    for (const char* file : {"g.hex", "g.bin"}) {
      const Result r = Call({"dis", dir / file});
      EXPECT_EQ(r.status, 0) << g.name << r.err;
      EXPECT_EQ(r.out, g.text) << g.name;
    }
  }
  // The built program, as the check runs it.
  std::string output;
  EXPECT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " dis " + (dir / "g.bin"), &output), 0);
  EXPECT_EQ(output, shtok::Goldens().back().text);
}

TEST(Gxlsh, ValidateUsesThePlatformValidator) {
  test::TempDir dir;
  test::WriteFileText(dir / "ok.hex", shtok::Goldens()[0].tokens);
  test::WriteFileText(dir / "bad.hex", "FFFE0101 00000001 C00F0000 90E40000 0000FFFF");
  const Result ok = Call({"validate", dir / "ok.hex"});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, dir / "ok.hex" + ": valid\n");
  const Result bad = Call({"validate", dir / "bad.hex"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, dir / "bad.hex" + "(2): error X5010: v0 is used before its declaration\n" + (dir / "bad.hex") +
                         ": invalid\n");
}

TEST(Gxlsh, RunPrintsTheWrittenOutputs) {
  test::TempDir dir;
  test::WriteFileText(dir / "m.hex", shtok::Goldens()[5].tokens);  // m4x4 oPos, v0, c0; mov oD0, c4
  const Result vs = Call({"run", dir / "m.hex", "v0=1,2,3,4", "c0=1", "c1=0,1", "c2=0,0,1", "c3=0,0,0,1",
                          "c4=0.5,0.25"});
  EXPECT_EQ(vs.status, 0) << vs.err;
  EXPECT_EQ(vs.out, "oPos = 1, 2, 3, 4\noD0 = 0.5, 0.25, 0, 0\n");

  // dcl t0; texkill t0; mov oC0, c0 over a quad with one pixel killed.
  test::WriteFileText(dir / "k.hex",
                      "FFFF0200 0200001F 80000000 B00F0000 01000041 B00F0000 02000001 800F0800 A0E40000 0000FFFF");
  const Result quad = Call({"run", dir / "k.hex", "quad", "t0=1,1,1", "t0@2=1,-1,1", "c0=0.25"});
  EXPECT_EQ(quad.status, 0) << quad.err;
  EXPECT_EQ(quad.out,
            "lane 0: oC0 = 0.25, 0, 0, 0\nlane 1: oC0 = 0.25, 0, 0, 0\nlane 2: killed\nlane 2: oC0 = 0.25, 0, 0, 0\n"
            "lane 3: oC0 = 0.25, 0, 0, 0\n");
}

TEST(Gxlsh, ReportsBadInputAndUsage) {
  test::TempDir dir;
  test::WriteFileText(dir / "t.hex", "FFFE0101 00000001 800F0000");
  test::WriteFileText(dir / "x.hex", "FFFE0101 0000FFFG");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  } cases[] = {
      {{"dis", dir / "t.hex"}, 1, "token 1:"},
      {{"dis", dir / "x.hex"}, 2, "line 1: not a 32-bit hexadecimal word"},
      {{"dis", dir / "missing.hex"}, 2, "cannot open"},
      {{"run", dir / "t.hex"}, 1, "without an end token"},
      {{"frobnicate", "x"}, 2, "unknown command"},
      {{"dis"}, 2, "usage:"},
  };
  for (const Case& c : cases) {
    const Result r = Call(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  test::WriteFileText(dir / "ok.hex", shtok::Goldens()[1].tokens);
  EXPECT_EQ(Call({"run", dir / "ok.hex", "q7=1"}).status, 2);
  EXPECT_EQ(Call({"run", dir / "ok.hex", "v0@9=1"}).status, 2);
}

TEST(GxlShaderPreprocess, GxlshPpPrintsAFilePreprocessed) {
  test::TempDir dir;
  test::WriteFileText(dir / "a.fx", "#define F(x) x * N\nF(1)\n\n#ifdef N\nn\n#endif\nmov r0 ; c\n");
  const Result r = Call({"pp", dir / "a.fx", "-DN=2", "-DM"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1 * 2\nn\nmov r0 ; c\n");
  EXPECT_EQ(Call({"pp", dir / "a.fx", "asm"}).out, "1 * N\nmov r0\n");
  const Result bad = Call({"pp", dir / "missing.fx"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("error X1507"), std::string::npos);
  EXPECT_EQ(Call({"pp", dir / "a.fx", "-X"}).status, 2);
  // A corpus file through the built program: its macros expanded, nothing reported.
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles()) {
    if (file.path.find("ex_prim_shader_pixel.hlsl") == std::string::npos) continue;
    std::string output;
    EXPECT_TRUE(test::RunTool(std::string(GXLSH_PATH) + " pp " + file.path, &output));
    EXPECT_EQ(output.find("AMBIENT_COLOR"), std::string::npos) << output;
    EXPECT_NE(output.find("float4 ( 1 , 1 , 1 , 1 )"), std::string::npos) << output;
  }
}

// gxlsh asm then gxlsh dis gives a corpus file's instructions back: one line
// per instruction of the source, each assembling to the tokens it came from.
TEST(GxlShaderAsmTool, GxlshAsmThenDisReproducesACorpusFile) {
  test::TempDir dir;
  test::WriteFileText(dir / "bad.vsh", "vs_1_1\nmov r0, v0\nmov oPos, r0_bx2\n");
  const Result bad = Call({"asm", dir / "bad.vsh", "novalidate"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, dir / "bad.vsh" + "(3): error X2005: invalid register 'r0_bx2'\n");
  EXPECT_EQ(Call({"asm", dir / "bad.vsh", "-X"}).status, 2);
  EXPECT_EQ(Call({"asm", dir / "missing.vsh"}).status, 2);
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles()) {
    if (file.path.find("irrlicht/D3D9_NORMAL_MAP_VSH.vsh") == std::string::npos) continue;
    std::string hex, text;
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " asm " + file.path + " > " + (dir / "a.hex"), &hex), 0);
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " dis " + (dir / "a.hex"), &text), 0);
    std::ifstream in(file.path);
    std::vector<std::string> source, decoded;
    for (std::string line; std::getline(in, line);) {
      line = line.substr(0, line.find(';'));
      line.erase(0, line.find_first_not_of(" \t\r"));
      if (!line.empty()) source.push_back(line.substr(0, line.find_first_of(" \t_")));
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) decoded.push_back(line.substr(0, line.find_first_of(" _")));
    ASSERT_EQ(source.front(), "vs.1.1");
    source.front() = "vs";  // vs_1_1 once decoded
    EXPECT_EQ(decoded, source);  // the instruction names, in order
    test::WriteFileText(dir / "b.vsh", text);
    EXPECT_EQ(Call({"asm", dir / "b.vsh"}).out, Call({"asm", file.path}).out);
    return;
  }
  NURA_REQUIRE_OUTSIDE_INPUT(false, "the shader corpus");
}

// gxlsh parse prints the parser's messages: none for a file of the dialect,
// the syntax error of a file written for a later one.
TEST(GxlHlslParse, GxlshParsePrintsAFilesMessages) {
  test::TempDir dir;
  test::WriteFileText(dir / "a.fx", "#ifdef BAD\nfloat x = ;\n#endif\nfloat4 f() : COLOR { return N; }\n");
  const Result ok = Call({"parse", dir / "a.fx", "-DN=1"});
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_EQ(ok.out, "");
  const Result bad = Call({"parse", dir / "a.fx", "-DN=1", "-DBAD"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, dir / "a.fx" + "(2): error X3000: syntax error: unexpected token ';'\n");
  EXPECT_EQ(Call({"parse", dir / "a.fx", "-X"}).status, 2);
  EXPECT_EQ(Call({"parse", dir / "missing.fx"}).status, 2);
  int files = 0;
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles()) {
    const bool yuv = file.path.find("sdl/D3D9_PixelShader_YUV.hlsl") != std::string::npos;
    if (!yuv && file.path.find("mame/primary.fx") == std::string::npos) continue;
    ++files;
    std::string output;
    EXPECT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " parse " + file.path, &output), yuv ? 1 : 0);
    // Messages name the full path made lexically, as the platform does; symbolic links stay.
    const std::string path = std::filesystem::absolute(file.path).lexically_normal().string();
    EXPECT_EQ(output, yuv ? path + "(2): error X3000: syntax error: unexpected token 'theTextureY'\n" + path +
                                "(36): error X3004: undeclared identifier 'theTextureY'\n"
                          : "");
  }
  if (files != 2 && std::getenv("CI")) ADD_FAILURE() << "no shader corpus";
}

// gxlsh compile prints a corpus pixel shader's ps_2_0 code, which gxlsh
// validate accepts and gxlsh dis decodes.
TEST(GxlPs2EndToEnd, GxlshCompileThenValidate) {
  test::TempDir dir;
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles()) {
    if (file.path.find("mame/primary.fx") == std::string::npos) continue;
    std::string hex, verdict, text;
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " compile -T ps_2_0 -E ps_ui_main " + file.path + " > " +
                                   (dir / "ui.hex"),
                               &hex),
              0);
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " validate " + (dir / "ui.hex"), &verdict), 0) << verdict;
    EXPECT_EQ(verdict, dir / "ui.hex" + ": valid\n");
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " dis " + (dir / "ui.hex"), &text), 0);
    EXPECT_EQ(text.rfind("ps_2_0\n", 0), 0u) << text;
    EXPECT_NE(text.find("\ntexld"), std::string::npos) << text;
    EXPECT_NE(text.find("\nmov oC0, "), std::string::npos) << text;
    return;
  }
  NURA_REQUIRE_OUTSIDE_INPUT(false, "the shader corpus");
}

// gxlsh compile prints the corpus's ps_1_1 pixelMain, which gxlsh validate
// accepts and gxlsh run computes: r0 is the colour.
TEST(GxlPs1EndToEnd, GxlshCompileValidateRun) {
  test::TempDir dir;
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles()) {
    if (file.path.find("irrlicht/d3d9.hlsl") == std::string::npos) continue;
    std::string hex, verdict, text, run;
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " compile -T ps_1_1 -E pixelMain " + file.path + " > " +
                                   (dir / "p.hex"),
                               &hex),
              0);
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " validate " + (dir / "p.hex"), &verdict), 0) << verdict;
    EXPECT_EQ(verdict, dir / "p.hex" + ": valid\n");
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " dis " + (dir / "p.hex"), &text), 0);
    EXPECT_NE(text.find("\ntex t0\nmul_x4 r0, t0, v0\n"), std::string::npos) << text;
    // The lookup returns its coordinates: (0.5, 0.25, 0, 1) x diffuse x 4.
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " run " + (dir / "p.hex") + " t0=0.5,0.25 v0=0.5,0.5,1,0.25",
                               &run),
              0);
    EXPECT_EQ(run, "r0 = 1, 0.5, 0, 1\n");
    return;
  }
  NURA_REQUIRE_OUTSIDE_INPUT(false, "the shader corpus");
}

// gxlsh compile prints HLSL compiled for a vertex profile that gxlsh validate
// accepts; two processes print the same; usage and source errors report.
TEST(GxlVsEndToEnd, GxlshCompilePrintsCodeTheValidatorAccepts) {
  test::TempDir dir;
  test::WriteFileText(dir / "a.hlsl", "float4 main(float4 p : POSITION) : POSITION { return p * 2; }\n");
  EXPECT_EQ(Call({"compile", "-T", "vs_2_0", dir / "a.hlsl"}).status, 2);
  EXPECT_EQ(Call({"compile", "-T", "vs_2_0", "-E", "main", dir / "missing.hlsl"}).status, 2);
  const Result notFound = Call({"compile", "-T", "vs_2_0", "-E", "mian", dir / "a.hlsl"});
  EXPECT_EQ(notFound.status, 1);
  EXPECT_EQ(notFound.err, "error X3501: 'mian': entrypoint not found\n");
  for (const shadertest::CorpusFile& file : shadertest::CorpusFiles()) {
    if (file.path.find("mame/primary.fx") == std::string::npos) continue;
    std::string first, second, verdict;
    const std::string compile = std::string(GXLSH_PATH) + " compile -T vs_2_0 -E vs_screen_main " + file.path;
    ASSERT_EQ(test::RunCommand(compile + " > " + (dir / "p.hex"), &first), 0);
    ASSERT_EQ(test::RunCommand(compile, &first), 0);
    ASSERT_EQ(test::RunCommand(compile, &second), 0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.rfind("FFFE0200\n", 0), 0u) << first;
    ASSERT_EQ(test::RunCommand(std::string(GXLSH_PATH) + " validate " + (dir / "p.hex"), &verdict), 0) << verdict;
    EXPECT_EQ(verdict, dir / "p.hex" + ": valid\n");
    return;
  }
  NURA_REQUIRE_OUTSIDE_INPUT(false, "the shader corpus");
}

}  // namespace
}  // namespace nura::gxlsh
