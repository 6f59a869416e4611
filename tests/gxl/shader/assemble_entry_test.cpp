// The five assemble entry points: sources from files, resources and memory,
// the results and buffers handed out on each path, and runs on two threads.
#include <gtest/gtest.h>

#include <thread>

#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"
#include "tests/gxl/shader/asm_run.h"
#include "tests/support/test_util.h"

namespace {

using shadertest::AsmRun;
using shadertest::ToAsmRun;

// A source whose l-suffixed defi values once left tokens unwritten.
constexpr char kSource[] = "vs_2_0\ndefi i0, 1l, -2l, 3, 4\ndcl_position v0\nmov oPos, v0\n";
constexpr char kTokens[] =
    "FFFE0200 05000030 F00F0000 00000001 FFFFFFFE 00000003 00000004 0200001F 80000000 900F0000 "
    "02000001 C00F0000 90E40000 0000FFFF";

class FailingInclude final : public gxl::shader::ShaderInclude {
 public:
  HRESULT Open(DWORD, const char*, const void*, const void**, UINT*) override { return E_ACCESSDENIED; }
  HRESULT Close(const void*) override { return S_OK; }
};

AsmRun FromFile(const char* name, DWORD flags = 0, gxl::shader::ShaderInclude* include = nullptr) {
  gxl::ComRef<DataBuffer> code, messages;
  const HRESULT hr = AssembleShaderFromFileA(name, nullptr, include, flags, code.Put(), messages.Put());
  return ToAsmRun(hr, code.Get(), messages.Get());
}

TEST(GxlShaderAssembleEntry, FailuresAndWhatIsHandedOut) {
  // Flags outside 0x1 and 0x2: refused before any source is opened; both outs null.
  int sentinel = 0;
  auto* code = reinterpret_cast<DataBuffer*>(&sentinel);
  auto* messages = reinterpret_cast<DataBuffer*>(&sentinel);
  EXPECT_EQ(AssembleShaderFromMemory(kSource, sizeof kSource - 1, nullptr, nullptr, 4, &code, &messages),
            D3DERR_INVALIDCALL);
  EXPECT_EQ(code, nullptr);
  EXPECT_EQ(messages, nullptr);
  EXPECT_EQ(AssembleShaderFromFileA("missing.vsh", nullptr, nullptr, 0x80, nullptr, nullptr), D3DERR_INVALIDCALL);

  const AsmRun missing = FromFile("no/such/file.vsh");
  EXPECT_TRUE(FAILED(missing.hr));
  EXPECT_EQ(missing.log, "(1): error X1507: failed to open source file: 'no/such/file.vsh'\n");
  FailingInclude include;
  const AsmRun refused = FromFile("any.vsh", 0, &include);
  EXPECT_EQ(refused.hr, E_ACCESSDENIED);
  EXPECT_EQ(refused.log, "(1): error X1507: failed to open source file: 'any.vsh'\n");

  gxl::ComRef<DataBuffer> c, m;
  EXPECT_TRUE(FAILED(AssembleShaderFromResourceA(nullptr, "none.vsh", nullptr, nullptr, 0, c.Put(), m.Put())));
  EXPECT_EQ(shadertest::Bytes(m.Get()), std::string("error X1512: failed to open resource\n") + '\0');

  EXPECT_EQ(AssembleShaderFromMemory(nullptr, 1, nullptr, nullptr, 0, c.Put(), m.Put()), D3DERR_INVALIDCALL);
  EXPECT_EQ(AssembleShaderFromMemory(nullptr, 0, nullptr, nullptr, 0, c.Put(), m.Put()), GXLERR_INVALIDDATA);
  EXPECT_EQ(shadertest::Bytes(m.Get()), std::string("(1): error X2001: shader version expected\n") + '\0');

  // Warnings only: the code and the warnings. One error: no code, the error.
  AsmRun run = shadertest::Assemble("vs.1.0\nnop\n", 0);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(shadertest::Hex(run.tokens), "FFFE0101 00000000 0000FFFF");
  EXPECT_EQ(run.log, "(1): warning X2015: vs_1_0 is no longer supported; using vs_1_1\n");
  run = shadertest::Assemble("vs_1_0\nmov r0, r13\n", 0);
  EXPECT_EQ(run.hr, GXLERR_INVALIDDATA);
  EXPECT_TRUE(run.tokens.empty());
  EXPECT_EQ(run.log,
            "(1): warning X2015: vs_1_0 is no longer supported; using vs_1_1\n(2): error X2005: invalid register "
            "'r13'\n");

  // Every out-pointer may be null; the length 0xFFFFFFFF runs to the NUL.
  EXPECT_EQ(AssembleShaderFromMemory(kSource, 0xFFFFFFFF, nullptr, nullptr, 1, nullptr, nullptr), S_OK);
  EXPECT_EQ(AssembleShaderFromMemory(kSource, 0xFFFFFFFF, nullptr, nullptr, 0, c.Put(), nullptr), S_OK);
  EXPECT_EQ(shadertest::Hex(static_cast<const std::uint32_t*>(c->GetPointer()), c->GetSize() / 4), kTokens);
}

TEST(GxlShaderAssembleEntry, FilesResourcesAndDefines) {
  nura::test::TempDir dir;
  const std::string name = dir / "f\xC3\xBCr_\xE3\x83\x86.vsh";  // "für_テ.vsh"
  nura::test::WriteFileText(name, "vs_2_0\nmov r0, VALUE\n");
  const gxl::shader::ShaderMacro defines[] = {{"VALUE", "c7"}, {nullptr, nullptr}};
  gxl::ComRef<DataBuffer> a, w, m;
  ASSERT_EQ(AssembleShaderFromFileA(name.c_str(), defines, nullptr, 0, a.Put(), nullptr), S_OK);
  const std::u16string wide = nura::test::Utf16(name);
  ASSERT_EQ(AssembleShaderFromFileW(wide.c_str(), defines, nullptr, 0, w.Put(), nullptr), S_OK);
  EXPECT_EQ(shadertest::Bytes(a.Get()), shadertest::Bytes(w.Get()));
  EXPECT_EQ(shadertest::Hex(static_cast<const std::uint32_t*>(a->GetPointer()), a->GetSize() / 4),
            "FFFE0200 02000001 800F0000 A0E40007 0000FFFF");
  const std::u16string missing = wide + u"x";
  EXPECT_TRUE(FAILED(AssembleShaderFromFileW(missing.c_str(), nullptr, nullptr, 0, nullptr, m.Put())));
  EXPECT_EQ(shadertest::Bytes(m.Get()), "(1): error X1507: failed to open source file: '" + name + "x'\n" + '\0');

  platform::RegisterResource(nullptr, RT_RCDATA, "shader.vsh", kSource, sizeof kSource - 1);
  ASSERT_EQ(AssembleShaderFromResourceA(nullptr, "SHADER.VSH", nullptr, nullptr, 0, a.Put(), nullptr), S_OK);
  ASSERT_EQ(AssembleShaderFromResourceW(nullptr, u"shader.vsh", nullptr, nullptr, 0, w.Put(), nullptr), S_OK);
  EXPECT_EQ(shadertest::Bytes(a.Get()), shadertest::Bytes(w.Get()));
  EXPECT_EQ(shadertest::Hex(static_cast<const std::uint32_t*>(a->GetPointer()), a->GetSize() / 4), kTokens);
}

// Runs on two threads wait for each other and give the same bytes each time.
TEST(GxlShaderAssembleEntry, TwoThreadsGiveIdenticalBytes) {
  std::string results[2];
  auto work = [&](int t) {
    for (int i = 0; i < 50; ++i) {
      gxl::ComRef<DataBuffer> code;
      const HRESULT hr =
          AssembleShaderFromMemory(kSource, sizeof kSource - 1, nullptr, nullptr, 0, code.Put(), nullptr);
      const std::string bytes = SUCCEEDED(hr) ? shadertest::Bytes(code.Get()) : "failed";
      if (i == 0) results[t] = bytes;
      if (bytes != results[t]) results[t] = "differs";
    }
  };
  std::thread other(work, 1);
  work(0);
  other.join();
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(shadertest::Hex(reinterpret_cast<const std::uint32_t*>(results[0].data()), results[0].size() / 4), kTokens);
}

}  // namespace
