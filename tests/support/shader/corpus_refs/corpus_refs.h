// The shader corpus as a table: every entry point (or assembly file) with the
// profile it shipped for, the ranges its inputs and constants take, its
// samplers and a C++ reference written from its source. The references see
// inputs and constants as the shader does and sample the procedural textures
// below, so a test can run compiled code against them on any input.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

namespace corpusref {

using V4 = std::array<double, 4>;
// HLSL inputs by semantic ("POSITION0", "TEXCOORD1"); assembly inputs by
// register ("v0", "t2").
using Inputs = std::map<std::string, V4>;
// Constants by name, row after row as the source declares them (matrices row
// by row); assembly constants by their first register ("c8", four values a
// register).
using Values = std::map<std::string, std::vector<double>>;
// Outputs by semantic ("COLOR0") or register ("oPos", "oT2", "oD0", "r0"),
// with as many components as the program writes.
using Outputs = std::map<std::string, std::vector<double>>;
// Reads what it needs with at(): a name it lacks throws std::out_of_range.
using Reference = Outputs (*)(const Inputs&, const Values&);

// The procedural texture behind each sampler name: smooth, in [0.1, 0.9],
// different per name.
V4 Texel(const std::string& sampler, double u, double v);

enum class Stage { kVertex, kPixel };

// Values drawn uniformly from [lo, hi]; whole numbers when `integral`.
struct Range {
  const char* name;  // semantic, register or constant
  int count;         // components (constants: all of them, rows by rows)
  double lo, hi;
  bool integral = false;
};

struct Entry {
  const char* file;     // below the corpus's shader folder
  const char* entry;    // HLSL entry point; null for assembly
  const char* partner;  // a vertex file compiled before it in one text, or null
  const char* profile;  // the profile the project built it for
  Stage stage;
  std::vector<Range> inputs;     // inputs not named here take [0, 1]
  std::vector<Range> constants;  // what the reference reads
  std::vector<const char*> samplers;
  Reference reference;      // null when the file is expected to be refused
  double tolerance = 1e-5;  // relative; wider for exp, log, pow, sincos
};

const std::vector<Entry>& Entries();
// Null when the table has no such row; `entry` is empty for assembly.
const Entry* Find(const std::string& file, const std::string& entry);

// The references, by file (corpus_table.cpp puts them in rows).
namespace vertex {
Outputs Irrlicht(const Inputs& in, const Values& u);
Outputs AllegroHigh(const Inputs& in, const Values& u);
Outputs AllegroPrim(const Inputs& in, const Values& u);
Outputs AllegroShader(const Inputs& in, const Values& u);
Outputs PrimaryScreen(const Inputs& in, const Values& u);
Outputs PrimaryUi(const Inputs& in, const Values& u);
Outputs WithPreviousCoordinate(const Inputs& in, const Values& u);
Outputs Focus(const Inputs& in, const Values& u);
Outputs Vector(const Inputs& in, const Values& u);
Outputs Ntsc(const Inputs& in, const Values& u);
Outputs Bloom(const Inputs& in, const Values& u);
Outputs Post(const Inputs& in, const Values& u);
Outputs Distortion(const Inputs& in, const Values& u);
}  // namespace vertex

namespace pixel {
Outputs AllegroShader(const Inputs& in, const Values& u);
Outputs AllegroMultitex(const Inputs& in, const Values& u);
Outputs AllegroWrap(const Inputs& in, const Values& u);
Outputs AllegroPrim(const Inputs& in, const Values& u);
Outputs AllegroHigh(const Inputs& in, const Values& u);
Outputs PrimaryScreen(const Inputs& in, const Values& u);
Outputs PrimaryVectorBuffer(const Inputs& in, const Values& u);
Outputs PrimaryUi(const Inputs& in, const Values& u);
Outputs Vector(const Inputs& in, const Values& u);
Outputs Focus(const Inputs& in, const Values& u);
Outputs Chroma(const Inputs& in, const Values& u);
Outputs Phosphor(const Inputs& in, const Values& u);
Outputs Ghosting(const Inputs& in, const Values& u);
Outputs Irrlicht(const Inputs& in, const Values& u);
Outputs Bloom(const Inputs& in, const Values& u);
Outputs Post(const Inputs& in, const Values& u);
Outputs NtscDecode(const Inputs& in, const Values& u);
Outputs Distortion(const Inputs& in, const Values& u);
}  // namespace pixel

namespace assembly {
Outputs IrrlichtVertex(const Inputs& in, const Values& u);
Outputs NormalMapVertex(const Inputs& in, const Values& u);
Outputs ParallaxMapVertex(const Inputs& in, const Values& u);
Outputs IrrlichtPixel(const Inputs& in, const Values& u);
Outputs NormalMapPixel11(const Inputs& in, const Values& u);
Outputs NormalMapPixel20(const Inputs& in, const Values& u);
Outputs ParallaxMapPixel14(const Inputs& in, const Values& u);
Outputs ParallaxMapPixel20(const Inputs& in, const Values& u);
}  // namespace assembly

}  // namespace corpusref
