#include "tests/tools/gxlsh/parse_command.h"

#include <fstream>
#include <ostream>

#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"
#include "tests/tools/gxlsh/macro_args.h"

namespace nura::gxlsh {

int ParseCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!std::ifstream(args[0])) {
    err << "gxlsh: cannot read '" << args[0] << "'\n";
    return 2;
  }
  MacroArguments defines;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!defines.Take(args[i])) {
      err << "gxlsh: bad argument '" << args[i] << "'\n";
      return 2;
    }
  }
  gxl::shader::ShaderPreprocessor pp;
  HRESULT hr = pp.StartFromFile(args[0].c_str(), false, defines.Macros(), nullptr);
  ProgramNode* tree = nullptr;
  if (SUCCEEDED(hr)) {
    gxl::shader::HlslParser parser;
    hr = parser.Parse(0x80000000u, &pp, &tree);  // as the compiler calls it
  }
  gxl::ComRef<DataBuffer> messages;
  if (SUCCEEDED(pp.Log().JoinMessages(messages.Put())) && messages)
    out << static_cast<const char*>(messages->GetPointer());
  return SUCCEEDED(hr) && tree ? 0 : 1;
}

}  // namespace nura::gxlsh
