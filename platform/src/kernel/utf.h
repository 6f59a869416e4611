// UTF-8 <-> UTF-16 conversion shared by the code-page calls and every W entry point.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace platform::utf {

// Invalid UTF-8 becomes U+FFFD; *invalid (when given) reports whether any was seen.
std::u16string ToUtf16(const char* text, size_t bytes, bool* invalid = nullptr);
// Lone surrogates become '?'; *lossy (when given) reports whether any was seen.
std::string ToUtf8(const char16_t* text, size_t chars, bool* lossy = nullptr);

inline std::u16string ToUtf16(const std::string& s) { return ToUtf16(s.data(), s.size()); }
inline std::string ToUtf8(const std::u16string& s) { return ToUtf8(s.data(), s.size()); }
// A null-terminated wide string as UTF-8 (null gives "").
std::string ToUtf8(LPCWSTR text);

}  // namespace platform::utf
