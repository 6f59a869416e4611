// Writing the generated files: PNG pictures (8-bit RGBA), their scrambled
// twins, and plain byte files, each under the data folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "assets/generator/canvas.h"

namespace assetgen {

class Output {
 public:
  explicit Output(std::string root);
  const std::string& root() const { return m_root; }

  // Writes canvas as a PNG at the relative path; the sides must be powers of two.
  void Picture(const std::string& relPath, const Canvas& canvas);
  // Writes the PNG encoding of canvas scrambled: each of the first 256 bytes
  // combined by exclusive-or with its own offset.
  void ScrambledPicture(const std::string& relPath, const Canvas& canvas);
  void Bytes(const std::string& relPath, const std::vector<std::uint8_t>& data);
  void Text(const std::string& relPath, const std::string& text);

 private:
  std::string Prepare(const std::string& relPath);
  std::string m_root;
};

std::vector<std::uint8_t> EncodePng(const Canvas& canvas);
// The scrambling step; it is its own inverse.
void Scramble(std::vector<std::uint8_t>& bytes);

}  // namespace assetgen
