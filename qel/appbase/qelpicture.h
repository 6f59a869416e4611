// The framework's rule for loading a picture into a texture. A picture file
// that exists is made into a texture directly, except the logo, which is
// always read scrambled. Otherwise the file's scrambled twin is read (the
// same name with "grp" for its last three characters), restored in memory and
// made into a texture from there. The scrambled form is an ordinary image file
// whose first 256 bytes have each been XORed with their own offset.
#pragma once

#include <cstddef>
#include <string>

#include "platform/d3d9_api.h"

// The road a picture took.
enum class PictureRoad {
  kFile,  // the file itself
  kTwin,  // its scrambled twin (also when the twin is missing or unreadable)
};

// Loads `name` by the rule above into *texture, which is null when no texture
// results (missing files, pictures the texture library cannot read, no device).
PictureRoad LoadPictureTexture(IDirect3DDevice9* device, const std::string& name, IDirect3DTexture9** texture);

// "cg/TitleString.png" -> "cg/TitleString.grp"; empty for names shorter than
// three characters, which have no twin.
std::string ScrambledTwinName(const std::string& name);

// Combines each of the first 256 bytes that lie inside the block with its own
// offset; its own inverse, so it both scrambles and restores.
void ScramblePictureBytes(unsigned char* data, std::size_t size);
