#include "tests/tools/gxlsh/pp_command.h"

#include <ostream>

#include "gxl/shader/preprocess_text.h"
#include "gxl/shader/source_lexer.h"

namespace nura::gxlsh {

int PreprocessCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::string& file = args[0];
  const std::string ext = file.size() >= 4 ? file.substr(file.size() - 4) : "";
  bool assembly = ext == ".vsh" || ext == ".psh";
  std::vector<std::string> names, texts;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "asm" || args[i] == "hlsl") {
      assembly = args[i] == "asm";
    } else if (args[i].rfind("-D", 0) == 0 && args[i].size() > 2) {
      const std::size_t eq = args[i].find('=');
      names.push_back(args[i].substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
      texts.push_back(eq == std::string::npos ? "" : args[i].substr(eq + 1));
    } else {
      err << "gxlsh: bad argument '" << args[i] << "'\n";
      return 2;
    }
  }
  std::vector<gxl::shader::ShaderMacro> defines;
  for (std::size_t i = 0; i < names.size(); ++i) defines.push_back({names[i].c_str(), texts[i].c_str()});
  defines.push_back({nullptr, nullptr});

  gxl::shader::PreprocessRequest request;
  request.fileName = file.c_str();
  request.mode = assembly ? gxl::shader::kLexAssembly : gxl::shader::ShaderPreprocessor::kHlslMode;
  request.defines = defines.data();
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
