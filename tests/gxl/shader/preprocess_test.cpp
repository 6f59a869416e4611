// The token pump: the edge cases of the preprocessor, #include with real
// files and with an include interface, and the corpus.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/outside_input.h"
#include "tests/support/shader/corpus.h"
#include "log_text.h"
#include "platform/testing.h"
#include "pp_run.h"
#include "tests/support/test_util.h"

namespace {

using gxl::shader::ShaderInclude;
using gxl::shader::ShaderPreprocessor;
using shadertest::PpRow;
using shadertest::Preprocess;
using shadertest::PreprocessFile;

TEST(GxlShaderPreprocess, EdgeCases) {
  const PpRow rows[] = {
      {"a # b\n", "a # b", ""},
      {"a\n#endif\nb\n", "a b", "(2): error X1510: unexpected #endif\n"},
      // Macros are expanded inside inactive regions too (and the result
      // dropped), but a call there ends with its line.
      {"#define F(a,b) a\n#if 0\nF(1)\nno\n#endif\nz\n", "z",
       "(3): error X1516: not enough actual parameters for macro 'F'\n"},
      {"#define FOO(x) x\n#if 0\nFOO(\n#endif\nafter\n", "after", ""},
      {"__FILE__ __LINE__\n\n__LINE__\n", "\"\" 1 3", ""},
      {"#error  stop here\nmore\n", "", "(1): error: stop here\n"},
      {"#if 1\nx", "x", "(2): error X1502: unexpected end of file\n"},
      {"#if 1", "", "(1): error X1502: unexpected end of file\n"},
      {"#include \"a.h\"\nx\n", "", "(1): error X1505: include interface required to support #include from resource or memory\n"},
  };
  shadertest::ExpectRows(rows);
  const shadertest::PpRun assembly = Preprocess("; c\n#define R r0 ; r\nmov R, c0 ; x\n", nullptr, 2);
  EXPECT_EQ(assembly.tokens, "mov r0 , c0");
  EXPECT_EQ(Preprocess("#error x\n").result, E_FAIL);
}

// Files beside each other in a temporary folder, named as written.
class Files {
 public:
  std::string Put(const std::string& name, const std::string& text) {
    nura::test::WriteFileText(m_dir / name, text);
    return m_dir / name;
  }
  std::string Path(const std::string& name) const { return m_dir / name; }

 private:
  nura::test::TempDir m_dir;
};

TEST(GxlShaderPreprocess, IncludesBesideTheIncludingFile) {
  Files files;
  std::filesystem::create_directories(files.Path("sub"));
  files.Put("sub/a.h", "#include \"b.h\"\na __LINE__\n\n\n\n\n__LINE__\n");
  files.Put("sub/b.h", "b __FILE__\n");
  files.Put("sub/c.h", "#if 0\nopen\n");
  const std::string main = files.Put(
      "main.fx", "#include \"sub/a.h\"\nm __LINE__\n#if 1\n#include \"sub\\c.h\"\nhidden\n#endif\nshown\n");
  const shadertest::PpRun run = PreprocessFile(main);
  EXPECT_EQ(run.tokens, "b \"" + files.Path("sub/b.h") + "\" a 2 7 m 2 shown");
  // The #if left open in c.h is reported at its end; its inactive state
  // lasts until a conditional of the including file ends.
  EXPECT_EQ(run.log, files.Path("sub/c.h") + "(3): error X1502: unexpected end of file\n");
}

TEST(GxlShaderPreprocess, ThirtyOneNestedIncludesAndNoMore) {
  for (int nested : {31, 32}) {
    Files files;
    for (int i = 1; i < nested; ++i)
      files.Put("i" + std::to_string(i) + ".h", "#include \"i" + std::to_string(i + 1) + ".h\"\n");
    files.Put("i" + std::to_string(nested) + ".h", "last\n");
    const shadertest::PpRun run = PreprocessFile(files.Put("main.fx", "#include \"i1.h\"\nmain\n"));
    if (nested == 31) {
      EXPECT_EQ(run.tokens, "last main");
      EXPECT_EQ(run.log, "");
    } else {
      EXPECT_EQ(run.tokens, "");
      EXPECT_EQ(run.log, files.Path("i31.h") + "(1): error X1506: too many nested #includes\n");
      EXPECT_EQ(run.result, E_FAIL);
    }
  }
}

TEST(GxlShaderPreprocess, NamesThatCannotBeOpened) {
  Files files;
  const std::string longName(5000, 'n');
  const shadertest::PpRun run =
      PreprocessFile(files.Put("main.fx", "#include \"missing.h\"\n#include \"" + longName + "\"\n"));
  EXPECT_EQ(run.log, files.Path("main.fx") + "(1): error X1507: failed to open source file: '" +
                         files.Path("missing.h") + "'\n");
  EXPECT_EQ(run.result, E_FAIL);
  const std::string longLog = PreprocessFile(files.Put("long.fx", "#include \"" + longName + "\"\n")).log;
  const std::string prefix = files.Path("long.fx") + "(1): error X1507: failed to open source file: '" + files.Path("n");
  EXPECT_EQ(longLog.rfind(prefix, 0), 0u);
  EXPECT_EQ(longLog.size(), gxl::shader::MessageLog::kMaxLineText + 1);  // cut to the longest line
  // A lone surrogate has no UTF-8 form; the name must not reach another file.
  files.Put("?.fx", "x");
  ShaderPreprocessor pp;
  nura::test::ScopedChdir here(files.Path(""));
  EXPECT_EQ(pp.StartFromFile(u"\xd800.fx", true, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(shadertest::LogText(pp.Log()), "(1): error X1507: failed to open source file: '?.fx'\n");
}

// An include interface over texts in memory that checks every hand-back.
class MemoryFiles final : public ShaderInclude {
 public:
  HRESULT Open(DWORD type, const char* name, const void* parent, const void** data, UINT* bytes) override {
    log += std::string(name) + ":" + std::to_string(type) + (parent ? "+" : "") + " ";
    const auto it = texts.find(name);
    if (it == texts.end()) return 0x80070002;
    *data = it->second.c_str();
    *bytes = static_cast<UINT>(it->second.size());
    ++open;
    return S_OK;
  }
  HRESULT Close(const void* data) override {
    for (const auto& [name, text] : texts)
      if (text.c_str() == data) --open;
    return S_OK;
  }
  std::map<std::string, std::string> texts;
  std::string log;
  int open = 0;
};

TEST(GxlShaderPreprocess, IncludeInterfaceGetsEveryTextBack) {
  MemoryFiles include;
  include.texts = {{"main.fx", "#include <sys.h>\nm\n#include \"stop.h\"\nnever\n"},
                   {"sys.h", "#include \"leaf.h\"\ns\n"},
                   {"leaf.h", "l __FILE__"},
                   {"stop.h", "#include \"leaf.h\"\n#error in stop\n"}};
  shadertest::PpRun run = PreprocessFile("main.fx", &include);
  EXPECT_EQ(run.tokens, "l \"leaf.h\" s m l \"leaf.h\"");
  EXPECT_EQ(run.log, "stop.h(2): error: in stop\n");
  EXPECT_EQ(include.log, "main.fx:0 sys.h:1+ leaf.h:0+ stop.h:0+ leaf.h:0+ ");
  EXPECT_EQ(include.open, 0);
  // A run abandoned halfway hands back what it holds.
  {
    ShaderPreprocessor pp;
    ASSERT_EQ(pp.StartFromFile("main.fx", false, nullptr, &include), S_OK);
    SourceToken t;
    do ASSERT_EQ(pp.NextToken(&t), S_OK);
    while (t.kind != kTokenIdentifier);
    EXPECT_EQ(include.open, 3);
  }
  EXPECT_EQ(include.open, 0);
  // A memory source may include through the interface; a failed Open stops the run.
  run = Preprocess("#include \"absent.h\"\nx\n", nullptr, 1, &include);
  EXPECT_EQ(run.log, "(1): error X1507: failed to open source file: 'absent.h'\n");
  EXPECT_EQ(run.tokens, "");
}

// Pool exhaustion at several points of a macro-heavy run: it ends, under
// ASan without a bad access, and says that it failed.
TEST(GxlShaderPreprocess, ExhaustedPoolEndsTheRunCleanly) {
  std::string text;
  for (int i = 0; i < 400; ++i) {
    const std::string k = std::to_string(i);
    text += "#define S" + k + "(x) #x ## x" + k + "\n#if " + k + " > 2\nS" + k + "(a b) __FILE__ __LINE__\n#endif\n";
  }
  const shadertest::PpRun full = Preprocess(text);
  EXPECT_EQ(full.log, "");
  for (std::size_t limit : {std::size_t{0}, std::size_t{64} << 10, std::size_t{128} << 10}) {
    platform::test::SetVirtualAllocCommitLimit(limit);
    const shadertest::PpRun run = Preprocess(text);
    platform::test::SetVirtualAllocCommitLimit(SIZE_MAX);
    if (limit == 0) {
      EXPECT_EQ(run.result, E_OUTOFMEMORY);
    } else {
      EXPECT_NE(run.log.find("internal error: out of memory"), std::string::npos) << limit;
    }
  }
}

TEST(GxlShaderPreprocess, CorpusPreprocessesWithoutMessages) {
  const std::vector<shadertest::CorpusFile> files = shadertest::CorpusFiles(true);
  NURA_REQUIRE_OUTSIDE_INPUT(!files.empty(), "the shader corpus");
  for (const shadertest::CorpusFile& file : files) {
    const shadertest::PpRun run = PreprocessFile(file.path, nullptr, file.assembly ? 2 : 1);
    EXPECT_EQ(run.log, "") << file.path;
    EXPECT_EQ(run.result, S_OK) << file.path;
    EXPECT_NE(run.tokens, "") << file.path;
    // The palette sources bring in their .hlsli from beside them.
    if (file.path.find("Palette_") != std::string::npos) {
      EXPECT_NE(run.tokens.find("SamplePaletteNearest"), std::string::npos) << file.path;
    }
  }
}

}  // namespace
