// A test-side reader of comment blocks in a token stream: finds a block by
// walking the comment framing itself and reads payload fields at byte
// offsets, so the writers' own record structs are not trusted.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace shadertest {

struct Payload {
  std::vector<std::uint8_t> bytes;
  std::size_t dword = 0;  // index of the comment token in the stream
  bool found = false;

  std::uint32_t U32(std::size_t at) const {
    std::uint32_t v = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&v, &bytes[at], 4);
    return v;
  }
  std::uint16_t U16(std::size_t at) const {
    std::uint16_t v = 0;
    if (at + 2 <= bytes.size()) std::memcpy(&v, &bytes[at], 2);
    return v;
  }
  float F32(std::size_t at) const {
    float f = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&f, &bytes[at], 4);
    return f;
  }
  // The zero-terminated text at an offset ("<bad>" when it does not end inside).
  std::string Text(std::size_t at) const {
    for (std::size_t i = at; i < bytes.size(); ++i)
      if (bytes[i] == 0) return std::string(reinterpret_cast<const char*>(&bytes[at]), i - at);
    return "<bad>";
  }
};

// The payload of the first comment block tagged fourCC right after the
// version token (comments only: the blocks precede the instructions).
inline Payload LeadingBlock(const std::vector<std::uint32_t>& tokens, std::uint32_t fourCC) {
  Payload p;
  for (std::size_t i = 1; i < tokens.size() && (tokens[i] & 0xFFFF) == 0xFFFE;) {
    const std::size_t length = (tokens[i] >> 16) & 0x7FFF;
    if (i + length >= tokens.size()) break;
    if (length >= 1 && tokens[i + 1] == fourCC) {
      p.found = true;
      p.dword = i;
      p.bytes.resize((length - 1) * 4);
      if (!p.bytes.empty()) std::memcpy(p.bytes.data(), &tokens[i + 2], p.bytes.size());
      return p;
    }
    i += 1 + length;
  }
  return p;
}

// The tags of the leading comment blocks, in stream order.
inline std::vector<std::string> LeadingTags(const std::vector<std::uint32_t>& tokens) {
  std::vector<std::string> tags;
  for (std::size_t i = 1; i < tokens.size() && (tokens[i] & 0xFFFF) == 0xFFFE;) {
    const std::size_t length = (tokens[i] >> 16) & 0x7FFF;
    if (length >= 1 && i + 1 < tokens.size()) tags.emplace_back(reinterpret_cast<const char*>(&tokens[i + 1]), 4);
    i += 1 + length;
  }
  return tags;
}

}  // namespace shadertest
