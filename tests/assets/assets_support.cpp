#include "tests/assets/assets_support.h"

#include <png.h>

#include <cstring>

#include "tests/support/test_util.h"

namespace nura::assets_test {

std::string DataDir() { return NURA_GAMEDATA_DIR; }
std::string DataPath(const std::string& rel) { return DataDir() + "/" + rel; }

const std::vector<std::string>& PictureNames() {
  static const std::vector<std::string> names = {
      // Logo and title.
      "cg/Logo.grp", "cg/title.png", "cg/PB.png", "cg/nura_op.png", "cg/TitleString.png", "cg/TitleString2.png",
      "cg/number.png",
      // Play.
      "cg/ball01.png", "cg/ball02.png", "cg/cursol.png", "cg/CursolBase.png", "cg/StatusString.png",
      "cg/TimeName.png", "cg/check.png", "cg/circle_wave.png", "cg/BigNumber.png", "cg/BalloonMessage.png",
      "cg/ContinueString.png", "cg/ready.png", "cg/count3.png", "cg/count2.png", "cg/count1.png", "cg/clear.png",
      "cg/ScoreScreen.png", "cg/balloon.png", "cg/miss.png", "cg/timeup.png",
      // Play backgrounds.
      "cg/square.png", "cg/Line_ver.png", "cg/Line_hor.png", "cg/snow1.png", "cg/snow2.png", "cg/wind.png",
      // Game over, endings, name entry.
      "cg/gameover.png", "cg/ending01.png", "cg/ending02.png", "cg/ending03.png", "cg/ending04.png",
      "cg/ending05.png", "cg/Ending_01a.png", "cg/Ending_01b.png", "cg/Ending_02a.png", "cg/Ending_02b.png",
      "cg/Ending_03a.png", "cg/Ending_03b.png", "cg/Ending_04a.png", "cg/Ending_04b.png", "cg/Ending_05.png",
      "cg/NameEntry.png", "cg/NameEntry2.png", "cg/EntryBelt.png"};
  return names;
}

const std::vector<std::string>& SoundNames() {
  static const std::vector<std::string> names = {"SE/bom25.wav",   "SE/don11.wav",    "SE/crash17.wav",
                                                 "SE/chari08.wav", "SE/noise01.wav",  "SE/cursor08.wav",
                                                 "SE/cursor04.wav"};
  return names;
}

bool DecodePng(const std::vector<std::uint8_t>& bytes, Image* out, std::string* why) {
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes.size() < 33 || std::memcmp(bytes.data(), kSignature, 8) != 0 || std::memcmp(&bytes[12], "IHDR", 4) != 0) {
    *why = "no PNG signature and header";
    return false;
  }
  out->bitDepth = bytes[24];
  out->colorType = bytes[25];
  png_image img;
  std::memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, bytes.data(), bytes.size())) {
    *why = img.message;
    return false;
  }
  img.format = PNG_FORMAT_RGBA;
  out->width = static_cast<int>(img.width);
  out->height = static_cast<int>(img.height);
  out->rgba.assign(PNG_IMAGE_SIZE(img), 0);
  if (!png_image_finish_read(&img, nullptr, out->rgba.data(), 0, nullptr)) {
    *why = img.message;
    png_image_free(&img);
    return false;
  }
  return true;
}

Image LoadPicture(const std::string& rel) {
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(DataPath(rel));
  if (rel.size() > 4 && rel.compare(rel.size() - 4, 4, ".grp") == 0)
    for (size_t i = 0; i < bytes.size() && i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ i);
  Image img;
  std::string why;
  if (!DecodePng(bytes, &img, &why)) img = Image{};
  return img;
}

Table ReadTable(const std::vector<std::uint8_t>& bytes) {
  Table t;
  t.push_back({std::string()});
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::uint8_t b = bytes[i];
    if (b == '\r') {
      ++i;  // the byte after CR is skipped, whatever it is
      t.push_back({std::string()});
    } else if (b == ',') {
      t.back().emplace_back();
    } else {
      t.back().back().push_back(static_cast<char>(b));
    }
  }
  return t;
}

}  // namespace nura::assets_test
