#include "tests/tools/gxlsh/compile_command.h"

#include <fstream>
#include <ostream>

#include "gxl/shader/compiler/constant_table.h"
#include "gxl/shader/shader_entry.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/tools/gxlsh/asm_command.h"
#include "tests/tools/gxlsh/macro_args.h"

namespace nura::gxlsh {

int CompileCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string profile, entry, file;
  DWORD flags = 0;
  MacroArguments defines;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "-T" || args[i] == "-E") && i + 1 < args.size()) {
      (args[i] == "-T" ? profile : entry) = args[i + 1];
      ++i;
    } else if (args[i] == "novalidate") {
      flags |= 0x2;
    } else if (args[i] == "noopt") {
      flags |= 0x4;
    } else if (!defines.Take(args[i]) && file.empty() && args[i][0] != '-') {
      file = args[i];
    } else if (args[i].rfind("-D", 0) != 0) {
      err << "gxlsh: bad argument '" << args[i] << "'\n";
      return 2;
    }
  }
  if (profile.empty() || entry.empty() || file.empty()) {
    err << "gxlsh: compile needs -T PROFILE, -E ENTRY and a file\n";
    return 2;
  }
  if (!std::ifstream(file)) {
    err << "gxlsh: cannot read '" << file << "'\n";
    return 2;
  }
  gxl::ComRef<DataBuffer> code, messages;
  const HRESULT hr = CompileShaderFromFileA(file.c_str(), defines.Macros(), nullptr, entry.c_str(), profile.c_str(),
                                            flags, code.Put(), messages.Put(), nullptr);
  if (messages) err << static_cast<const char*>(messages->GetPointer());
  if (FAILED(hr) || !code) return 1;
  WriteTokenLines(static_cast<const std::uint32_t*>(code->GetPointer()), code->GetSize() / 4, out);
  return 0;
}

}  // namespace nura::gxlsh
