// The text a message log joins, for comparing in tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "gxl/shader/core/message_log.h"
#include "gxl/tex/com_ref.h"
#include "gxl/tex/data_buffer.h"

namespace shadertest {

// The joined lines, or "<null>" when the log hands out no buffer.
inline std::string LogText(const gxl::shader::MessageLog& log) {
  gxl::ComRef<DataBuffer> buffer;
  EXPECT_EQ(log.JoinMessages(buffer.Put()), S_OK);
  if (!buffer) return "<null>";
  const auto* bytes = static_cast<const char*>(buffer->GetPointer());
  EXPECT_EQ(bytes[buffer->GetSize() - 1], '\0');
  return std::string(bytes, buffer->GetSize() - 1);
}

}  // namespace shadertest
