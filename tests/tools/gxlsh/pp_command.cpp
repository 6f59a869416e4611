#include "tests/tools/gxlsh/pp_command.h"

#include <ostream>

#include "gxl/shader/preprocessor/preprocess_text.h"
#include "gxl/shader/core/source_lexer.h"
#include "tests/tools/gxlsh/macro_args.h"

namespace nura::gxlsh {

int PreprocessCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string& file = args[0];
  const std::string ext = file.size() >= 4 ? file.substr(file.size() - 4) : "";
  bool assembly = ext == ".vsh" || ext == ".psh";
  MacroArguments defines;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "asm" || args[i] == "hlsl") {
      assembly = args[i] == "asm";
    } else if (!defines.Take(args[i])) {
      err << "gxlsh: bad argument '" << args[i] << "'\n";
      return 2;
    }
  }

  gxl::shader::PreprocessRequest request;
  request.fileName = file.c_str();
  request.mode = assembly ? gxl::shader::kLexAssembly : gxl::shader::ShaderPreprocessor::kHlslMode;
  request.defines = defines.Macros();
  const gxl::shader::PreprocessResult result = gxl::shader::PreprocessShaderText(request);
  bool lineStart = true;
  for (const std::string& t : result.tokens) {
    if (t == "\n") {
      if (!lineStart) out << "\n";
      lineStart = true;
      continue;
    }
    out << (lineStart ? "" : " ") << t;
    lineStart = false;
  }
  if (!lineStart) out << "\n";
  err << result.messages;
  return result.errorCount || FAILED(result.result) ? 1 : 0;
}

}  // namespace nura::gxlsh
