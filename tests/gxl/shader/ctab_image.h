// "CTAB" blocks laid out by hand, field by field from the layout tables:
// texts, type records, member records and default values go into a data
// area behind the 28-byte header, the constant records after it, and the
// block is wrapped into code with a version and an end token.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "shader_code.h"

namespace shadertest {

class CtabImage {
 public:
  static constexpr std::uint32_t kHeader = 28;

  explicit CtabImage(DWORD version = 0xFFFE0200) : m_version(version), m_bytes(kHeader, 0) {}

  std::uint32_t Text(const std::string& text) {
    const std::uint32_t at = Size();
    m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    m_bytes.push_back(0);
    return at;
  }
  std::uint32_t Words(const std::vector<std::uint32_t>& words) {
    Align();
    const std::uint32_t at = Size();
    for (std::uint32_t w : words) Put32(w);
    return at;
  }
  std::uint32_t Floats(const std::vector<float>& values) {
    std::vector<std::uint32_t> words(values.size());
    std::memcpy(words.data(), values.data(), values.size() * 4);
    return Words(words);
  }
  // A type record; members are (name, type offset) pairs.
  std::uint32_t Type(std::uint16_t typeClass, std::uint16_t type, std::uint16_t rows, std::uint16_t columns,
                     std::uint16_t elements, const std::vector<std::pair<std::string, std::uint32_t>>& members = {}) {
    std::vector<std::uint32_t> names;
    for (const auto& m : members) names.push_back(Text(m.first));
    std::uint32_t memberInfo = 0;
    if (!members.empty()) {
      Align();
      memberInfo = Size();
      for (std::size_t i = 0; i < members.size(); ++i) {
        Put32(names[i]);
        Put32(members[i].second);
      }
    }
    Align();
    const std::uint32_t at = Size();
    for (std::uint16_t v : {typeClass, type, rows, columns, elements, static_cast<std::uint16_t>(members.size())})
      Put16(v);
    Put32(memberInfo);
    return at;
  }
  // Entries in the order given (callers sort them by name).
  void Constant(const std::string& name, std::uint16_t set, std::uint16_t reg, std::uint16_t count, std::uint32_t type,
                std::uint32_t defaultValue = 0) {
    m_entries.push_back({Text(name), set, reg, count, type, defaultValue});
  }

  // Header fields that the tests spoil on purpose.
  std::uint32_t headerSize = kHeader;
  std::uint32_t creator = ~0u;  // ~0: a creator text of its own
  std::uint32_t target = 0;
  std::uint32_t countOverride = ~0u;

  // The block's payload, and a byte of it to change afterwards.
  std::vector<std::uint8_t> Body() {
    std::vector<std::uint8_t> body = m_bytes;
    const std::uint32_t creatorAt = creator == ~0u ? Append(body, "hand-laid") : creator;
    while (body.size() % 4) body.push_back(0xAB);
    const std::uint32_t entriesAt = static_cast<std::uint32_t>(body.size());
    for (const Entry& e : m_entries) {
      Put(body, e.name, 4);
      Put(body, e.set, 2);
      Put(body, e.reg, 2);
      Put(body, e.count, 2);
      Put(body, 0, 2);
      Put(body, e.type, 4);
      Put(body, e.defaultValue, 4);
    }
    const std::uint32_t count = countOverride == ~0u ? static_cast<std::uint32_t>(m_entries.size()) : countOverride;
    const std::uint32_t header[7] = {headerSize, creatorAt, m_version, count, entriesAt, 0, target};
    std::memcpy(body.data(), header, sizeof header);
    while (body.size() % 4) body.push_back(0xAB);
    return body;
  }
  std::vector<DWORD> Code() { return CodeWithBlock(m_version, Fcc('C', 'T', 'A', 'B'), Body()); }

 private:
  struct Entry {
    std::uint32_t name;
    std::uint16_t set, reg, count;
    std::uint32_t type, defaultValue;
  };
  std::uint32_t Size() const { return static_cast<std::uint32_t>(m_bytes.size()); }
  void Align() {
    while (m_bytes.size() % 4) m_bytes.push_back(0xAB);
  }
  void Put16(std::uint16_t v) { Put(m_bytes, v, 2); }
  void Put32(std::uint32_t v) { Put(m_bytes, v, 4); }
  static void Put(std::vector<std::uint8_t>& bytes, std::uint32_t v, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  static std::uint32_t Append(std::vector<std::uint8_t>& bytes, const char* text) {
    const std::uint32_t at = static_cast<std::uint32_t>(bytes.size());
    bytes.insert(bytes.end(), text, text + std::strlen(text) + 1);
    return at;
  }

  DWORD m_version;
  std::vector<std::uint8_t> m_bytes;
  std::vector<Entry> m_entries;
};

}  // namespace shadertest
