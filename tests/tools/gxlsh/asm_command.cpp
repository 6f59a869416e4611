#include "tests/tools/gxlsh/asm_command.h"

#include <cstdio>
#include <fstream>
#include <ostream>

#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "platform/src/d3d9/shader_tokens.h"
#include "tests/tools/gxlsh/macro_args.h"

namespace nura::gxlsh {
namespace ps = platform::shader;

void WriteTokenLines(const std::uint32_t* words, std::size_t count, std::ostream& out) {
  auto line = [&](std::size_t from, std::size_t to) {
    char hex[16];
    for (std::size_t i = from; i < to; ++i) {
      std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(words[i]));
      out << (i > from ? " " : "") << hex;
    }
    out << "\n";
  };
  ps::Version v;
  std::size_t pos = count ? 1 : 0;
  if (count) line(0, 1);
  if (count && ps::ParseVersion(words[0], &v)) {
    for (;;) {
      const ps::Item item = ps::ReadItem(words, count, pos, v);
      if (item.kind == ps::ItemKind::kError || item.kind == ps::ItemKind::kIncomplete) break;
      line(pos, item.next);
      pos = item.next;
      if (item.kind == ps::ItemKind::kEnd) break;
    }
  }
  if (pos < count) line(pos, count);
}

int AssembleCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!std::ifstream(args[0])) {
    err << "gxlsh: cannot read '" << args[0] << "'\n";
    return 2;
  }
  DWORD flags = 0;
  MacroArguments defines;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "novalidate") {
      flags |= kAssembleSkipValidation;
    } else if (!defines.Take(args[i])) {
      err << "gxlsh: bad argument '" << args[i] << "'\n";
      return 2;
    }
  }

  gxl::ComRef<DataBuffer> code, messages;
  const HRESULT hr =
      AssembleShaderFromFileA(args[0].c_str(), defines.Macros(), nullptr, flags, code.Put(), messages.Put());
  if (messages) err << static_cast<const char*>(messages->GetPointer());
  if (FAILED(hr) || !code) return 1;

  WriteTokenLines(static_cast<const std::uint32_t*>(code->GetPointer()), code->GetSize() / 4, out);
  return 0;
}

}  // namespace nura::gxlsh
