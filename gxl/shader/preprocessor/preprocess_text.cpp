#include "gxl/shader/preprocessor/preprocess_text.h"

#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"

namespace gxl::shader {

PreprocessResult PreprocessShaderText(const PreprocessRequest& request) {
  PreprocessResult out;
  ShaderPreprocessor pp;
  out.result = request.fileName ? pp.StartFromFile(request.fileName, false, request.defines, request.include)
                                : pp.StartFromMemory(request.text, request.length, request.defines, request.include);
  if (SUCCEEDED(out.result)) out.result = pp.BeginTokenStream(request.mode);
  for (SourceToken t; SUCCEEDED(out.result);) {
    out.result = pp.NextToken(&t);
    if (FAILED(out.result) || t.kind == kTokenEndOfInput) break;
    if (t.kind == kTokenEndOfLine) out.tokens.emplace_back("\n");
    else out.tokens.emplace_back(t.start, t.length);
  }
  ComRef<DataBuffer> messages;
  if (SUCCEEDED(pp.Log().JoinMessages(messages.Put())) && messages)
    out.messages.assign(static_cast<const char*>(messages->GetPointer()), messages->GetSize() - 1);
  out.errorCount = pp.Log().ErrorCount();
  return out;
}

}  // namespace gxl::shader
