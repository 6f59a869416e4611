// The five compile entry points: what each failure hands out, sources from
// files (8-bit and UTF-16 names), resources and memory, the constant table,
// and runs repeated and on two threads giving the same bytes.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"
#include "tests/gxl/shader/asm_run.h"
#include "tests/support/test_util.h"

namespace {

using gxl::ComRef;
using shadertest::Bytes;

constexpr char kSource[] =
    "float4x4 world;\n"
    "float4 tint;\n"
    "struct Out { float4 p : POSITION; float4 c : COLOR0; };\n"
    "Out main(float4 p : POSITION) { Out o; o.p = mul(p, world); o.c = tint; return o; }\n";

std::string Text(DataBuffer* messages) {
  const std::string bytes = Bytes(messages);
  return bytes.empty() ? bytes : bytes.substr(0, bytes.size() - 1);
}

class FailingInclude final : public gxl::shader::ShaderInclude {
 public:
  HRESULT Open(DWORD, const char*, const void*, const void**, UINT*) override { return E_ACCESSDENIED; }
  HRESULT Close(const void*) override { return S_OK; }
};

TEST(GxlCompileEntry, FailuresAndWhatIsHandedOut) {
  // Flags outside the mask, the driver's own 0x40, 0x80 and 0x100 among them:
  // refused before the source is read, every out-pointer null.
  for (const DWORD flags : {0x40u, 0x80u, 0x100u, 0x800u, 0x10000u}) {
    int sentinel = 0;
    auto* code = reinterpret_cast<DataBuffer*>(&sentinel);
    auto* messages = reinterpret_cast<DataBuffer*>(&sentinel);
    auto* table = reinterpret_cast<ConstantTable*>(&sentinel);
    EXPECT_EQ(CompileShaderFromMemory(kSource, sizeof kSource - 1, nullptr, nullptr, "main", "vs_2_0", flags, &code,
                                      &messages, &table),
              D3DERR_INVALIDCALL)
        << flags;
    EXPECT_EQ(code, nullptr);
    EXPECT_EQ(messages, nullptr);
    EXPECT_EQ(table, nullptr);
  }

  struct Row {
    const char* what;
    const char* text;  // null: a missing file
    UINT length;
    const char* entry;
    const char* profile;
    HRESULT result;
    const char* log;  // the whole message text, or null where not checked
  } rows[] = {
      {"a missing file", nullptr, 0, "main", "vs_2_0", E_FAIL,
       "(1): error X1507: failed to open source file: 'no/such.hlsl'\n"},
      {"a null text with a length", nullptr, 5, "main", "vs_2_0", D3DERR_INVALIDCALL, ""},
      {"no entry name", kSource, sizeof kSource - 1, nullptr, "vs_2_0", D3DERR_INVALIDCALL, ""},
      {"no such entry", kSource, sizeof kSource - 1, "mian", "vs_2_0", E_FAIL,
       "error X3501: 'mian': entrypoint not found\n"},
      {"no such profile", kSource, sizeof kSource - 1, "main", "vs_9_9", D3DERR_INVALIDCALL,
       "error X3506: unrecognized compiler target 'vs_9_9'\n"},
      {"a shader model 3 profile", kSource, sizeof kSource - 1, "main", "vs_3_0", S_OK, ""},
      {"warnings only", kSource, sizeof kSource - 1, "main", "vs_1_0", S_OK,
       "warning X3505: vs_1_0 is no longer supported; using vs_1_1\n"},
      {"the text up to its NUL", kSource, 0xFFFFFFFF, "main", "vs_2_0", S_OK, ""},
  };
  for (const Row& row : rows) {
    ComRef<DataBuffer> code, messages;
    ComRef<ConstantTable> table;
    const HRESULT hr = row.text || row.length
                           ? CompileShaderFromMemory(row.text, row.length, nullptr, nullptr, row.entry, row.profile, 0,
                                                     code.Put(), messages.Put(), table.Put())
                           : CompileShaderFromFileA("no/such.hlsl", nullptr, nullptr, row.entry, row.profile, 0,
                                                    code.Put(), messages.Put(), table.Put());
    if (row.result == E_FAIL) {
      EXPECT_TRUE(FAILED(hr)) << row.what;
    } else {
      EXPECT_EQ(hr, row.result) << row.what;
    }
    EXPECT_EQ(static_cast<bool>(code), SUCCEEDED(hr)) << row.what;
    EXPECT_EQ(static_cast<bool>(table), SUCCEEDED(hr)) << row.what;
    if (row.log) {
      EXPECT_EQ(Text(messages.Get()), row.log) << row.what;
    }
  }

  // An include interface that refuses the main file: its own result.
  FailingInclude include;
  ComRef<DataBuffer> messages;
  EXPECT_EQ(
      CompileShaderFromFileA("any.hlsl", nullptr, &include, "main", "vs_2_0", 0, nullptr, messages.Put(), nullptr),
      E_ACCESSDENIED);
  EXPECT_EQ(Text(messages.Get()), "(1): error X1507: failed to open source file: 'any.hlsl'\n");
  EXPECT_TRUE(FAILED(CompileShaderFromResourceA(nullptr, "none.hlsl", nullptr, nullptr, "main", "vs_2_0", 0, nullptr,
                                                messages.Put(), nullptr)));
  EXPECT_EQ(Text(messages.Get()), "error X1512: failed to open resource\n");
  // Every optional out-pointer may be null.
  EXPECT_EQ(CompileShaderFromMemory(kSource, sizeof kSource - 1, nullptr, nullptr, "main", "vs_2_0", 0, nullptr,
                                    nullptr, nullptr),
            S_OK);
}

TEST(GxlCompileEntry, FilesResourcesDefinesAndTheConstantTable) {
  nura::test::TempDir dir;
  const std::string name = dir /
                           "sch\xC3\xA4"
                           "der_\xE3\x82\xB7.hlsl";  // "schäder_シ.hlsl"
  nura::test::WriteFileText(name, "float4 SCALE;\nfloat4 main(float4 p : POSITION) : POSITION { return p * SCALE; }\n");
  const gxl::shader::ShaderMacro defines[] = {{"SCALE", "factor"}, {nullptr, nullptr}};
  ComRef<DataBuffer> a, w, r, rw, m;
  ComRef<ConstantTable> table;
  ASSERT_EQ(CompileShaderFromFileA(name.c_str(), defines, nullptr, "main", "vs_2_0", 0, a.Put(), m.Put(), table.Put()),
            S_OK)
      << Text(m.Get());
  const std::u16string wide = nura::test::Utf16(name);
  ASSERT_EQ(CompileShaderFromFileW(wide.c_str(), defines, nullptr, "main", "vs_2_0", 0, w.Put(), nullptr, nullptr),
            S_OK);
  EXPECT_EQ(Bytes(a.Get()), Bytes(w.Get()));
  ASSERT_TRUE(table);
  ConstantDesc desc{};
  UINT count = 1;
  ASSERT_EQ(table->DescribeConstants(table->ConstantByName(nullptr, "factor"), &desc, &count), S_OK);
  EXPECT_EQ(desc.registerSet, 2u);
  EXPECT_EQ(table->ConstantByName(nullptr, "SCALE"), nullptr);

  const std::u16string missing = wide + u"x";
  EXPECT_TRUE(FAILED(
      CompileShaderFromFileW(missing.c_str(), nullptr, nullptr, "main", "vs_2_0", 0, nullptr, m.Put(), nullptr)));
  EXPECT_EQ(Text(m.Get()), "(1): error X1507: failed to open source file: '" + name + "x'\n");

  platform::RegisterResource(nullptr, RT_RCDATA, "compile.hlsl", kSource, sizeof kSource - 1);
  ASSERT_EQ(CompileShaderFromResourceA(nullptr, "COMPILE.HLSL", nullptr, nullptr, "main", "vs_1_1", 0, r.Put(), nullptr,
                                       nullptr),
            S_OK);
  ASSERT_EQ(CompileShaderFromResourceW(nullptr, u"compile.hlsl", nullptr, nullptr, "main", "vs_1_1", 0, rw.Put(),
                                       nullptr, nullptr),
            S_OK);
  ComRef<DataBuffer> memory;
  ASSERT_EQ(CompileShaderFromMemory(kSource, sizeof kSource - 1, nullptr, nullptr, "main", "vs_1_1", 0, memory.Put(),
                                    nullptr, nullptr),
            S_OK);
  EXPECT_EQ(Bytes(r.Get()), Bytes(memory.Get()));
  EXPECT_EQ(Bytes(rw.Get()), Bytes(memory.Get()));
}

// Runs repeated and on two threads at once give the same bytes.
TEST(GxlCompileEntry, RunsAndThreadsGiveIdenticalBytes) {
  std::string results[2];
  auto work = [&](int t) {
    for (int i = 0; i < 20; ++i) {
      ComRef<DataBuffer> code;
      const HRESULT hr = CompileShaderFromMemory(kSource, sizeof kSource - 1, nullptr, nullptr, "main", "vs_2_sw", 0,
                                                 code.Put(), nullptr, nullptr);
      const std::string bytes = SUCCEEDED(hr) ? Bytes(code.Get()) : "failed";
      if (i == 0) results[t] = bytes;
      if (bytes != results[t]) results[t] = "differs";
    }
  };
  std::thread other(work, 1);
  work(0);
  other.join();
  EXPECT_EQ(results[0], results[1]);
  EXPECT_NE(results[0], "failed");
  EXPECT_NE(results[0], "differs");
}

}  // namespace
