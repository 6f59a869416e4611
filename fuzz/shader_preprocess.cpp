// The shader preprocessor on its own. An input without NUL is the main
// source. Otherwise its NUL-separated parts are: the caller's definitions
// (lines "NAME" or "NAME=definition"; a first character ';' asks for the
// assembly lexer instead of HLSL's), the main source, then pairs of a file
// name and its text, which the include interface serves. Each input runs
// twice and must give the same tokens and messages both times.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/shader_checks.h"
#include "gxl/shader/core/source_lexer.h"
#include "gxl/shader/preprocessor/preprocess_text.h"

namespace {

using nura::fuzz::Require;
namespace sh = nura::fuzz::shader;

std::vector<std::string_view> Split(std::string_view all, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t at = 0;;) {
    const std::size_t end = all.find(separator, at);
    parts.push_back(all.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
    if (end == std::string_view::npos) return parts;
    at = end + 1;
  }
}

// Serves the named parts; counts what it hands out so that every open is
// seen closed.
class PartInclude final : public gxl::shader::ShaderInclude {
 public:
  explicit PartInclude(const std::vector<std::string_view>& parts) : m_parts(parts) {}
  HRESULT Open(DWORD, const char* name, const void*, const void** data, UINT* bytes) override {
    for (std::size_t i = 2; i + 1 < m_parts.size(); i += 2)
      if (m_parts[i] == name) {
        *data = m_parts[i + 1].data();
        *bytes = static_cast<UINT>(m_parts[i + 1].size());
        ++m_open;
        return S_OK;
      }
    return E_FAIL;
  }
  HRESULT Close(const void*) override {
    Require(m_open > 0, "the preprocessor closes only what it opened");
    --m_open;
    return S_OK;
  }
  int OpenCount() const { return m_open; }

 private:
  const std::vector<std::string_view>& m_parts;
  int m_open = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string_view> parts = Split({reinterpret_cast<const char*>(data), size}, '\0');
  const std::string_view main = parts.size() == 1 ? parts[0] : parts[1];
  // The definitions as NUL-terminated names and texts, kept apart from the input.
  std::vector<std::string> texts;
  bool assembly = false;
  if (parts.size() > 1) {
    assembly = parts[0].starts_with(';');
    for (std::string_view line : Split(parts[0].substr(assembly ? 1 : 0), '\n')) {
      if (line.empty()) continue;
      const std::size_t equals = line.find('=');
      texts.emplace_back(line.substr(0, equals));
      texts.emplace_back(equals == std::string_view::npos ? std::string_view("1") : line.substr(equals + 1));
    }
  }
  std::vector<gxl::shader::ShaderMacro> defines;
  for (std::size_t i = 0; i < texts.size(); i += 2) defines.push_back({texts[i].c_str(), texts[i + 1].c_str()});
  defines.push_back({nullptr, nullptr});

  PartInclude include(parts);
  gxl::shader::PreprocessRequest request;
  request.text = main.data();
  request.length = static_cast<UINT>(main.size());
  request.mode = assembly ? gxl::shader::kLexAssembly : gxl::shader::ShaderPreprocessor::kHlslMode;
  request.defines = defines.data();
  request.include = &include;
  const sh::FloatControl control;
  const gxl::shader::PreprocessResult first = gxl::shader::PreprocessShaderText(request);
  Require(include.OpenCount() == 0, "every included text is closed by the end of the run");
  Require(first.messages.find('\0') == std::string::npos, "message lines hold no NUL");
  Require(SUCCEEDED(first.result) || !first.messages.empty() || first.result == E_OUTOFMEMORY, "a failed run says why");
  const gxl::shader::PreprocessResult second = gxl::shader::PreprocessShaderText(request);
  Require(second.result == first.result && second.tokens == first.tokens && second.messages == first.messages,
          "a second run of the same input gives the same tokens and messages");
  control.CheckRestored();
  sh::CheckLockFree();
  return 0;
}
