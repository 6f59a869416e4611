// A stand-in for the platform's shader validator, installed as
// "Direct3DShaderValidatorCreate9" of "d3d9.dll": it records the token groups
// it is fed and answers as a test scripts it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/testing.h"
#include "tests/gxl/shader/asm_run.h"

namespace shadertest {

struct ScriptedMessage {
  std::size_t group;  // index of the token group that triggers it
  DWORD type, number;
  const char* text;
};

class FakeValidator final : public ShaderValidator9 {
 public:
  HRESULT QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT Begin(ShaderValidatorCallback cb, void* ctx, DWORD beginFlags) override {
    callback = cb;
    context = ctx;
    flags = beginFlags;
    return beginResult;
  }
  HRESULT Instruction(const char* file, int line, const DWORD* tokens, DWORD count) override {
    groups.push_back(Hex(tokens, count));
    lines.push_back(line);
    for (const ScriptedMessage& m : messages)
      if (m.group + 1 == groups.size()) callback(file, line, m.type, m.number, m.text, context);
    return groups.size() == failingGroup + 1 ? E_FAIL : S_OK;
  }
  HRESULT End() override {
    ++ends;
    return S_OK;
  }

  // Makes this the validator the runtime hands out.
  void Install() {
    Current() = this;
    platform::test::RegisterExport("d3d9.dll", "Direct3DShaderValidatorCreate9", &Create);
  }

  ULONG refs = 1;
  HRESULT beginResult = S_OK;
  std::size_t failingGroup = SIZE_MAX;
  std::vector<ScriptedMessage> messages;
  std::vector<std::string> groups;
  std::vector<int> lines;
  int ends = 0;
  int created = 0;
  DWORD flags = 0;
  ShaderValidatorCallback callback = nullptr;
  void* context = nullptr;

 private:
  static FakeValidator*& Current() {
    static FakeValidator* current = nullptr;
    return current;
  }
  static std::intptr_t Create() {
    FakeValidator* fake = Current();
    ++fake->created;
    fake->AddRef();
    return reinterpret_cast<std::intptr_t>(static_cast<ShaderValidator9*>(fake));
  }
};

}  // namespace shadertest
