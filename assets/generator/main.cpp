// Builds the game's data folder (pictures under cg/, sound effects under SE/,
// the stage tables), the music as a WAVE file for the encoder, and a sample
// settings file in the program's folder, where the game reads it.
//
//   nura_assetgen <data folder> <stage description> <music WAVE out> <program folder>
#include <cstdio>
#include <exception>
#include <string>

#include "assets/generator/audio.h"
#include "assets/generator/output.h"
#include "assets/generator/pictures.h"
#include "assets/generator/stages.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <data folder> <stage description> <music WAVE out> <program folder>\n",
                 argv[0]);
    return 2;
  }
  try {
    assetgen::Output out(argv[1]);
    assetgen::Fonts fonts;
    assetgen::MakeGlyphSheets(out, fonts);
    assetgen::MakeMenuPictures(out, fonts);
    assetgen::MakePlayPictures(out, fonts);
    assetgen::MakeScreenPictures(out, fonts);
    assetgen::MakeSoundEffects(out);
    assetgen::WriteMusic(argv[3]);
    assetgen::WriteStageTables(out, assetgen::ReadStageDescription(argv[2]));
    // The four debug keys; the game reads them and then uses fixed values.
    assetgen::Output(argv[4]).Text(
        "nura.ini", "[Debug]\r\nLIFE_INFINITY=0\r\nSTART_STAGE=1\r\nSKIP_NAMEENTRY=0\r\nSTART_LIFE=4\r\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "nura_assetgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
