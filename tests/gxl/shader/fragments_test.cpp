// Fragment sets gathered from HLSL sources: compile-expression fragments
// through a stand-in compiler that hands back fixed code or a failure, asm
// fragments as the parser assembled them, and the five entry points. Sets are
// read back by a reader of the layout written here, not by the writer's code.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gxl/shader/compiler/fragment_gathering.h"
#include "gxl/shader/core/bytecode.h"
#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "gxl/tex/result_codes.h"
#include "platform/win_kernel.h"
#include "tests/support/test_util.h"

namespace {

using gxl::ComRef;
using gxl::shader::ShaderPreprocessor;

struct Fragment {
  std::string name;
  std::vector<std::uint8_t> code;  // as stored: whole words
};

// Reads a fragment set: {0x7FFE0000, blocks {comment, "FRAG", 8, 8 + 4n, name, code}, 0x0000FFFF}.
// Empty `error` when the whole buffer is one well-formed set with zero padding.
struct SetReader {
  std::vector<Fragment> fragments;
  std::string error;

  explicit SetReader(DataBuffer* set) {
    if (!set || set->GetSize() % 4) {
      error = "no set";
      return;
    }
    std::vector<std::uint32_t> w(set->GetSize() / 4);
    std::memcpy(w.data(), set->GetPointer(), set->GetSize());
    if (w.size() < 2 || w[0] != 0x7FFE0000u) error = "version";
    std::size_t at = 1;
    while (error.empty() && at < w.size() && w[at] != 0x0000FFFFu) {
      const std::uint32_t length = (w[at] >> 16) & 0x7FFF;
      if ((w[at] & 0xFFFF) != 0xFFFE || (w[at] & 0x80000000u) || at + 1 + length > w.size() || length < 3 ||
          w[at + 1] != 0x47415246u) {
        error = "block at word " + std::to_string(at);
        break;
      }
      const std::uint32_t* payload = &w[at + 2];  // offsets count from here
      const std::uint32_t payloadBytes = (length - 1) * 4;
      if (payload[0] != 8 || payload[1] < 12 || payload[1] % 4 || payload[1] > payloadBytes) {
        error = "offsets at word " + std::to_string(at);
        break;
      }
      const auto* bytes = reinterpret_cast<const char*>(payload);
      Fragment f;
      f.name.assign(bytes + 8, strnlen(bytes + 8, payload[1] - 8));
      for (std::uint32_t k = 8 + static_cast<std::uint32_t>(f.name.size()); k < payload[1]; ++k)
        if (bytes[k]) error = "name padding of " + f.name;
      if (f.name.size() + 1 > payload[1] - 8) error = "name of " + f.name + " not terminated";
      f.code.assign(bytes + payload[1], bytes + payloadBytes);
      fragments.push_back(f);
      at += 1 + length;
    }
    if (error.empty() && at != w.size() - 1) error = "end token";
  }
};

// Stands in for the compile driver: answers each call with the next reply.
class StubCompiler final : public gxl::shader::FragmentFunctionCompiler {
 public:
  struct Reply {
    HRESULT result;
    std::uint32_t bytes;  // code size; the words count up from the call's number
    bool logError = false;
  };
  struct Call {
    std::string function, profile;
    std::uint32_t flags;
  };

  explicit StubCompiler(std::vector<Reply> replies) : m_replies(std::move(replies)) {}

  HRESULT CompileFunction(const ProgramNode*, const ParseNode* function, const ParseNode*, const char* profile,
                          std::uint32_t flags, DataBuffer** code) override {
    *code = nullptr;
    calls.push_back({CandidateName(function), profile, flags});
    const Reply r = calls.size() <= m_replies.size() ? m_replies[calls.size() - 1] : Reply{E_UNEXPECTED, 0};
    if (r.logError) log->ReportError(nullptr, 9999, "stand-in error");
    if (FAILED(r.result)) return r.result;
    EXPECT_EQ(GXLCreateDataBuffer(r.bytes, code), S_OK);
    auto* bytes = static_cast<std::uint8_t*>((*code)->GetPointer());
    for (std::uint32_t i = 0; i < r.bytes; ++i) bytes[i] = static_cast<std::uint8_t>(calls.size() * 16 + i);
    return r.result;
  }

  // The code the call of that number (from 1) handed back.
  static std::vector<std::uint8_t> CodeOf(std::size_t call, std::uint32_t bytes) {
    std::vector<std::uint8_t> out((bytes + 3) / 4 * 4, 0);
    for (std::uint32_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(call * 16 + i);
    return out;
  }

  std::vector<Call> calls;
  gxl::shader::MessageLog* log = nullptr;

 private:
  // The name of the first declaration a call's candidate list addresses.
  static std::string CandidateName(const ParseNode* list) {
    const auto* value = list && list->kind == NodeKind::List ? list->first : nullptr;
    if (!value || value->kind != NodeKind::Expression) return "?";
    const auto* declaration =
        static_cast<const DeclarationNode*>(static_cast<const ExpressionNode*>(value)->value.address);
    return gxl::shader::IdentifierText(declaration->name, "?");
  }

  std::vector<Reply> m_replies;
};

struct GatherRun {
  HRESULT hr;
  ComRef<DataBuffer> set;
  std::string log;
};

GatherRun Gather(const std::string& source, StubCompiler* compiler, std::uint32_t flags = 0) {
  GatherRun run;
  ShaderPreprocessor pp;
  compiler->log = &pp.Log();
  const HRESULT opened = pp.StartFromMemory(source.data(), static_cast<UINT>(source.size()), nullptr, nullptr);
  ComRef<DataBuffer> messages;
  DataBuffer* sentinel = reinterpret_cast<DataBuffer*>(&run);
  DataBuffer** out = run.set.Put();
  *out = sentinel;
  run.hr = gxl::shader::FinishFragmentRun(&pp, opened, flags, compiler, out, messages.Put());
  if (run.set.Get() == sentinel) run.set.Detach();
  if (messages) run.log = static_cast<const char*>(messages->GetPointer());
  return run;
}

constexpr char kFunctions[] =
    "float4 tint;\n"
    "float4 vmain(float4 p : POSITION) : POSITION { return p * tint; }\n"
    "float4 pmain() : COLOR { return tint; }\n";

TEST(GxlFragments, TwoFragmentsMakeOneSetInDeclarationOrder) {
  const std::string source = std::string(kFunctions) +
                             "vertexfragment abc = compile_fragment vs_1_1 vmain();\n"
                             "pixelfragment bcdefgh = compile_fragment ps_2_0 pmain();\n";
  StubCompiler compiler({{S_OK, 120}, {S_OK, 64}});
  const GatherRun run = Gather(source, &compiler, 0x8);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(run.log, "");
  ASSERT_EQ(run.set->GetSize(), 4u * (2 + (4 + 1 + 30) + (4 + 2 + 16)));
  const SetReader set(run.set.Get());
  ASSERT_EQ(set.error, "");
  ASSERT_EQ(set.fragments.size(), 2u);
  EXPECT_EQ(set.fragments[0].name, "abc");
  EXPECT_EQ(set.fragments[0].code, StubCompiler::CodeOf(1, 120));
  EXPECT_EQ(set.fragments[1].name, "bcdefgh");
  EXPECT_EQ(set.fragments[1].code, StubCompiler::CodeOf(2, 64));
  ASSERT_EQ(compiler.calls.size(), 2u);
  EXPECT_EQ(compiler.calls[0].function, "vmain");
  EXPECT_EQ(compiler.calls[0].profile, "vs_1_1");
  EXPECT_EQ(compiler.calls[1].function, "pmain");
  EXPECT_EQ(compiler.calls[1].profile, "ps_2_0");
  for (const auto& call : compiler.calls) EXPECT_EQ(call.flags, 0x10Au);
}

TEST(GxlFragments, NamesAndCodePadToWholeWords) {
  // Names of 1-8 characters take (length + 4) / 4 words; code of 1-8 bytes (length + 3) / 4.
  std::string source = kFunctions;
  std::vector<StubCompiler::Reply> replies;
  const std::string names = "abcdefgh";
  std::uint32_t words = 2;
  for (std::uint32_t length = 1; length <= 8; ++length) {
    source += "vertexfragment " + names.substr(0, length) + " = compile_fragment vs_1_1 vmain();\n";
    replies.push_back({S_OK, length});
    words += 4 + (length + 4) / 4 + (length + 3) / 4;
  }
  StubCompiler compiler(replies);
  const GatherRun run = Gather(source, &compiler);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  EXPECT_EQ(run.set->GetSize(), words * 4);
  const SetReader set(run.set.Get());
  ASSERT_EQ(set.error, "");
  ASSERT_EQ(set.fragments.size(), 8u);
  for (std::uint32_t length = 1; length <= 8; ++length) {
    EXPECT_EQ(set.fragments[length - 1].name, names.substr(0, length));
    EXPECT_EQ(set.fragments[length - 1].code, StubCompiler::CodeOf(length, length)) << length;
  }
}

TEST(GxlFragments, OnlyPlainFragmentsWithValuesAreGathered) {
  const std::string source = std::string(kFunctions) +
                             "vertexfragment none;\n"
                             "vertexfragment many[2];\n"
                             "vertexshader whole = compile vs_1_1 vmain();\n"
                             "pixelfragment one = compile_fragment ps_2_0 pmain();\n";
  StubCompiler compiler({{S_OK, 8}});
  const GatherRun run = Gather(source, &compiler);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const SetReader set(run.set.Get());
  ASSERT_EQ(set.error, "");
  ASSERT_EQ(set.fragments.size(), 1u);
  EXPECT_EQ(set.fragments[0].name, "one");
  EXPECT_EQ(compiler.calls.size(), 1u);
}

TEST(GxlFragments, FailuresHandOutNoSet) {
  const std::string three = std::string(kFunctions) +
                            "vertexfragment A = compile_fragment vs_1_1 vmain();\n"
                            "vertexfragment B = compile_fragment vs_1_1 vmain();\n"
                            "vertexfragment C = compile_fragment vs_1_1 vmain();\n";
  // Largest code whose block still fits 15 bits: 3 + 1 name word + c = 0x7FFF.
  const std::uint32_t fits = (0x7FFF - 4) * 4;
  struct Row {
    const char* what;
    std::string source;
    std::vector<StubCompiler::Reply> replies;
    HRESULT result;
    std::size_t calls;
    std::string log;
  } rows[] = {
      {"no fragment", kFunctions, {}, E_FAIL, 0, ""},
      {"a fragment that does not compile stops the run",
       three,
       {{S_OK, 4}, {E_OUTOFMEMORY, 0}, {S_OK, 4}},
       E_OUTOFMEMORY,
       2,
       "(5): error X2903: There was an error compiling the fragment 'B'\n"},
      {"a block that would pass 15 bits",
       three,
       {{S_OK, fits + 1}},
       E_FAIL,
       1,
       "(4): error X2903: There was an error compiling the fragment 'A'\n"},
      {"an error logged by a compile that succeeded",
       three,
       {{S_OK, 4}, {S_OK, 4, true}, {S_OK, 4}},
       GXLERR_INVALIDDATA,
       3,
       "error X9999: stand-in error\n"},
      {"a value that is neither code nor a compile expression",
       std::string(kFunctions) + "vertexfragment A = compile_fragment vs_1_1 vmain();\nvertexfragment D = A;\n",
       {{S_OK, 4}},
       E_FAIL,
       1,
       "(5): error X2904: Internal error compiling the fragment 'D'\n"},
  };
  for (const Row& r : rows) {
    StubCompiler compiler(r.replies);
    const GatherRun run = Gather(r.source, &compiler);
    EXPECT_EQ(run.hr, r.result) << r.what;
    EXPECT_EQ(run.set.Get(), nullptr) << r.what;
    EXPECT_EQ(compiler.calls.size(), r.calls) << r.what;
    EXPECT_EQ(run.log, r.log) << r.what;
  }

  StubCompiler largest({{S_OK, fits}});
  const GatherRun run =
      Gather(std::string(kFunctions) + "vertexfragment A = compile_fragment vs_1_1 vmain();\n", &largest);
  ASSERT_EQ(run.hr, S_OK) << run.log;
  const SetReader set(run.set.Get());
  ASSERT_EQ(set.error, "");
  ASSERT_EQ(set.fragments.size(), 1u);
  EXPECT_EQ(set.fragments[0].code.size(), fits);

  // A parse error: the parser's failure, no compile.
  StubCompiler none({});
  const GatherRun bad = Gather("vertexfragment A = compile_fragment vs_1_1 missing();\n", &none);
  EXPECT_TRUE(FAILED(bad.hr));
  EXPECT_EQ(bad.set.Get(), nullptr);
  EXPECT_TRUE(none.calls.empty());
  EXPECT_NE(bad.log.find("error X3004"), std::string::npos) << bad.log;
}

// Asm fragments need no compiler: the entry points gather them whole, and
// every way of reading the source gives the same set.
constexpr char kAsmSource[] =
    "float4 tint : register(vs_2_0, c7);\n"
    "vertexfragment first = asm_fragment { vs_2_0 mov r_a, c_tint mov oPos, r_a };\n"
    "vertexfragment second = asm_fragment { vs_2_0 mov oPos, c_tint };\n";

std::string Bytes(DataBuffer* b) {
  return b ? std::string(static_cast<const char*>(b->GetPointer()), b->GetSize()) : "<null>";
}

TEST(GxlFragments, EntryPointsGatherAsmFragmentsFromEverySource) {
  ComRef<DataBuffer> memory, messages;
  ASSERT_EQ(
      CompileFragmentsFromMemory(kAsmSource, sizeof kAsmSource - 1, nullptr, nullptr, 0, memory.Put(), messages.Put()),
      S_OK);
  EXPECT_EQ(messages.Get(), nullptr);
  const SetReader set(memory.Get());
  ASSERT_EQ(set.error, "");
  ASSERT_EQ(set.fragments.size(), 2u);
  for (const Fragment& f : set.fragments) {
    // The stored code is one whole fragment stream: version to end token.
    ASSERT_GE(f.code.size(), 8u) << f.name;
    std::vector<DWORD> words(f.code.size() / 4);
    std::memcpy(words.data(), f.code.data(), f.code.size());
    EXPECT_EQ(words[0], 0x7FFE0200u) << f.name;
    EXPECT_EQ(GetShaderSize(words.data()), f.code.size()) << f.name;
    EXPECT_EQ(words.back(), 0x0000FFFFu) << f.name;
  }
  EXPECT_EQ(set.fragments[0].name, "first");
  EXPECT_EQ(set.fragments[1].name, "second");

  nura::test::TempDir dir;
  const std::string name = dir / "fr\xC3\xA4g_\xE3\x83\x95.fx";  // "fräg_フ.fx"
  nura::test::WriteFileText(name, kAsmSource);
  const std::u16string wide = nura::test::Utf16(name);
  platform::RegisterResource(nullptr, RT_RCDATA, "fragments.fx", kAsmSource, sizeof kAsmSource - 1);
  ComRef<DataBuffer> fileA, fileW, resourceA, resourceW;
  EXPECT_EQ(CompileFragmentsFromFileA(name.c_str(), nullptr, nullptr, 0, fileA.Put(), nullptr), S_OK);
  EXPECT_EQ(CompileFragmentsFromFileW(wide.c_str(), nullptr, nullptr, 0, fileW.Put(), nullptr), S_OK);
  EXPECT_EQ(CompileFragmentsFromResourceA(nullptr, "FRAGMENTS.FX", nullptr, nullptr, 0, resourceA.Put(), nullptr),
            S_OK);
  EXPECT_EQ(CompileFragmentsFromResourceW(nullptr, u"fragments.fx", nullptr, nullptr, 0, resourceW.Put(), nullptr),
            S_OK);
  for (DataBuffer* b : {fileA.Get(), fileW.Get(), resourceA.Get(), resourceW.Get()})
    EXPECT_EQ(Bytes(b), Bytes(memory.Get()));

  // Failures leave the out pointer null and say why.
  int sentinel = 0;
  auto* out = reinterpret_cast<DataBuffer*>(&sentinel);
  EXPECT_TRUE(FAILED(CompileFragmentsFromFileA("no/such.fx", nullptr, nullptr, 0, &out, messages.Put())));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(Bytes(messages.Get()), std::string("(1): error X1507: failed to open source file: 'no/such.fx'\n") + '\0');
  out = reinterpret_cast<DataBuffer*>(&sentinel);
  EXPECT_EQ(CompileFragmentsFromMemory(kFunctions, sizeof kFunctions - 1, nullptr, nullptr, 0, &out, messages.Put()),
            E_FAIL);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(messages.Get(), nullptr);
}

}  // namespace
