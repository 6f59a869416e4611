// The run context: the compiler lock across threads, the numeric locale and
// floating-point state of a run, the current pool, opening the main source
// from memory, files, an include interface and resources, and token streams.
#include <gtest/gtest.h>

#include <fenv.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/result_codes.h"
#include "platform/d3d9_api.h"
#include "log_text.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace {

using gxl::shader::IncludeSource;
using gxl::shader::ShaderInclude;
using gxl::shader::ShaderPreprocessor;

// Every token up to the end of input, as its text (identifiers and
// punctuators) or its kind; and the log.
std::vector<std::string> Tokens(ShaderPreprocessor& pp) {
  std::vector<std::string> out;
  for (SourceToken t; pp.NextToken(&t) == S_OK && t.kind != kTokenEndOfInput;) {
    if (t.kind == kTokenIdentifier) out.push_back(t.value.text);
    else if (t.kind == kTokenPunctuator) out.push_back(t.value.punctuator);
    else out.push_back("#" + std::to_string(t.kind));
  }
  return out;
}

std::string LogText(ShaderPreprocessor& pp) { return shadertest::LogText(pp.Log()); }

TEST(GxlShaderContext, RunsOfTwoThreadsDoNotOverlap) {
  std::atomic<int> inside{0}, overlaps{0};
  auto runs = [&] {
    for (int i = 0; i < 100; ++i) {
      ShaderPreprocessor pp;
      if (inside.fetch_add(1) != 0) ++overlaps;
      pp.StartFromMemory("a b c", 5, nullptr, nullptr);
      if (Tokens(pp).size() != 3) ++overlaps;
      std::this_thread::yield();
      inside.fetch_sub(1);
    }
  };
  std::thread a(runs), b(runs);
  a.join();
  b.join();
  EXPECT_EQ(overlaps.load(), 0);
}

TEST(GxlShaderContext, ARunReadsNumbersInTheCLocaleAndGivesTheThreadsBack) {
  nura::test::TempDir dir;
  locale_t comma = nura::test::MakeCommaDecimalLocale(dir);
  NURA_REQUIRE_OUTSIDE_INPUT(comma, "a comma-decimal locale");
  const locale_t before = uselocale(comma);
  auto format = [] {
    char text[16];
    std::snprintf(text, sizeof text, "%g", 1.5);
    return std::string(text);
  };
  ASSERT_EQ(format(), "1,5");
  {
    ShaderPreprocessor pp;
    ASSERT_EQ(pp.StartFromMemory("1.5", 3, nullptr, nullptr), S_OK);
    SourceToken t;
    ASSERT_EQ(pp.NextToken(&t), S_OK);
    ASSERT_EQ(t.kind, kTokenFloat);
    EXPECT_EQ(t.value.real, 1.5);
    pp.Log().DescribeToken(1500, t);
    EXPECT_EQ(LogText(pp), "(1): error X1500: syntax error : unexpected float '1.5'\n");
  }
  EXPECT_EQ(format(), "1,5");
  uselocale(before);
  freelocale(comma);
}

TEST(GxlShaderContext, FloatingPointTrapsAreSilentDuringARun) {
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(FE_DIVBYZERO);
  {
    ShaderPreprocessor pp;
    volatile double zero = 0.0;
    volatile double r = 1.0 / zero;  // would trap outside a run
    EXPECT_TRUE(std::isinf(r));
  }
  EXPECT_EQ(fegetexcept() & FE_DIVBYZERO, FE_DIVBYZERO);
  fedisableexcept(FE_ALL_EXCEPT);
  feclearexcept(FE_ALL_EXCEPT);
}

TEST(GxlShaderContext, TheRunsPoolIsCurrentAndThePreviousOneComesBack) {
  PagePool outside(0, 0);
  PagePool* const previous = SetCurrentPool(&outside);
  {
    ShaderPreprocessor pp;
    EXPECT_EQ(CurrentPool(), &pp.Pool());
    {
      ShaderPreprocessor nested;  // the lock is recursive for one thread
      EXPECT_EQ(CurrentPool(), &nested.Pool());
    }
    EXPECT_EQ(CurrentPool(), &pp.Pool());
  }
  EXPECT_EQ(CurrentPool(), &outside);
  SetCurrentPool(previous);
}

TEST(GxlShaderContext, MemorySources) {
  {
    ShaderPreprocessor pp;
    EXPECT_EQ(pp.StartFromMemory(nullptr, 5, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(pp.StartFromMemory(nullptr, 0xFFFFFFFF, nullptr, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(pp.StartFromMemory(nullptr, 0, nullptr, nullptr), S_OK);
    EXPECT_TRUE(Tokens(pp).empty());
  }
  ShaderPreprocessor pp;
  const char* main = "ab cd\0ef";
  const char* rest = nullptr;
  std::uint32_t remaining = 9;
  pp.GetMainSourceRest(&rest, &remaining);
  EXPECT_EQ(remaining, 0u);
  ASSERT_EQ(pp.StartFromMemory(main, 0xFFFFFFFF, nullptr, nullptr), S_OK);
  EXPECT_EQ(pp.StartFromMemory(main, 2, nullptr, nullptr), D3DERR_INVALIDCALL);  // one main source
  SourceToken t;
  ASSERT_EQ(pp.NextToken(&t), S_OK);
  pp.GetMainSourceRest(&rest, &remaining);
  EXPECT_EQ(rest, main + 2);
  EXPECT_EQ(remaining, 3u);
  const char* file = "x";
  std::uint32_t line = 0;
  EXPECT_EQ(pp.GetPosition(&file, &line), S_OK);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(line, 1u);
  EXPECT_EQ(Tokens(pp), std::vector<std::string>{"cd"});
}

// An include interface over one named text, counting what it hands back.
class OneFile final : public ShaderInclude {
 public:
  HRESULT Open(DWORD type, const char* name, const void* parent, const void** data, UINT* bytes) override {
    opened = std::string(name) + " type " + std::to_string(type) + (parent ? " parent" : "");
    if (opened.rfind("inc.fx", 0) != 0) return 0x80070002;  // file not found
    *data = text;
    *bytes = 5;
    return S_OK;
  }
  HRESULT Close(const void* data) override {
    closed += data == text ? 1 : 100;
    return S_OK;
  }
  const char* text = "p q\nr";
  std::string opened;
  int closed = 0;
};

TEST(GxlShaderContext, FilesThroughTheIncludeInterface) {
  OneFile include;
  {
    ShaderPreprocessor pp;
    ASSERT_EQ(pp.StartFromFile("inc.fx", false, nullptr, &include), S_OK);
    EXPECT_EQ(include.opened, "inc.fx type 0");
    EXPECT_EQ(Tokens(pp), (std::vector<std::string>{"p", "q", "#12", "r"}));
    const char* file = nullptr;
    std::uint32_t line = 0;
    pp.GetPosition(&file, &line);
    EXPECT_STREQ(file, "inc.fx");
    EXPECT_EQ(line, 2u);
    EXPECT_EQ(include.closed, 0);
  }
  EXPECT_EQ(include.closed, 1);
  ShaderPreprocessor pp;
  EXPECT_EQ(pp.StartFromFile(u"missing.fx", true, nullptr, &include), 0x80070002);
  EXPECT_EQ(LogText(pp), "(1): error X1507: failed to open source file: 'missing.fx'\n");
  EXPECT_EQ(include.closed, 1);
}

TEST(GxlShaderContext, FilesMappedDirectly) {
  nura::test::TempDir dir;
  const std::string path = dir / "\xc3\xa9t\xc3\xa9.fx";  // a UTF-16 name must reach it in UTF-8
  nura::test::WriteFileText(path, "x\ny");
  {
    ShaderPreprocessor pp;
    ASSERT_EQ(pp.StartFromFile(u"\u00e9t\u00e9.fx", true, nullptr, nullptr), GXLERR_INVALIDDATA);
    nura::test::ScopedChdir here(dir.path());
    ShaderPreprocessor inDir;
    ASSERT_EQ(inDir.StartFromFile(u"\u00e9t\u00e9.fx", true, nullptr, nullptr), S_OK);
    SourceToken t;
    ASSERT_EQ(inDir.NextToken(&t), S_OK);
    EXPECT_EQ(t.file, path);  // the full path
  }
  IncludeSource source;
  PagePool pool(0, 0);
  gxl::shader::MessageLog log;
  ASSERT_EQ(ShaderPreprocessor::OpenSourceFile(&source, path.c_str(), false, &pool, nullptr, &log, nullptr, 0, nullptr),
            S_OK);
  EXPECT_EQ(std::string(source.directory), dir.path() + "/");
  EXPECT_EQ(source.bytes, 3u);
  ShaderPreprocessor pp;
  EXPECT_EQ(pp.StartFromFile("no such file.fx", false, nullptr, nullptr), GXLERR_INVALIDDATA);
  EXPECT_EQ(LogText(pp), "(1): error X1507: failed to open source file: 'no such file.fx'\n");
}

TEST(GxlShaderContext, ResourceSources) {
  static const char kText[] = "vs.1.1 mov";
  platform::RegisterResource(nullptr, RT_RCDATA, "SHADER", kText, sizeof kText - 1);
  {
    ShaderPreprocessor pp;
    ASSERT_EQ(pp.StartFromResource(nullptr, "shader", false, nullptr, nullptr), S_OK);
    ASSERT_EQ(pp.BeginTokenStream(2), S_OK);
    SourceToken t;
    ASSERT_EQ(pp.NextToken(&t), S_OK);
    EXPECT_EQ(t.kind, kTokenVersion);
    EXPECT_EQ(t.file, nullptr);
  }
  ShaderPreprocessor pp;
  EXPECT_EQ(pp.StartFromResource(nullptr, "absent", false, nullptr, nullptr), GXLERR_INVALIDDATA);
  EXPECT_EQ(LogText(pp), "error X1512: failed to open resource\n");
}

TEST(GxlShaderContext, ANestedStreamEndsAtItsClosingBrace) {
  ShaderPreprocessor pp;
  EXPECT_EQ(pp.EndTokenStream(), D3DERR_INVALIDCALL);
  ASSERT_EQ(pp.StartFromMemory("x { mov ; c\n{ a } b } y } z", 0xFFFFFFFF, nullptr, nullptr), S_OK);
  ASSERT_EQ(pp.BeginTokenStream(1), S_OK);
  SourceToken t;
  ASSERT_EQ(pp.NextToken(&t), S_OK);
  ASSERT_EQ(pp.NextToken(&t), S_OK);  // x {
  ASSERT_EQ(pp.BeginTokenStream(2), S_OK);
  // Assembly mode: ";" starts a comment; braces opened inside are matched.
  EXPECT_EQ(Tokens(pp), (std::vector<std::string>{"mov", "#12", "{", "a", "}", "b"}));
  ASSERT_EQ(pp.NextToken(&t), S_OK);
  EXPECT_EQ(t.kind, kTokenEndOfInput);
  ASSERT_EQ(pp.EndTokenStream(), S_OK);
  EXPECT_EQ(Tokens(pp), (std::vector<std::string>{"y", "}", "z"}));
  ASSERT_EQ(pp.EndTokenStream(), S_OK);
  EXPECT_EQ(pp.EndTokenStream(), D3DERR_INVALIDCALL);
}

}  // namespace
