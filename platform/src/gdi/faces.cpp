// Face choice over fontconfig. The system configuration serves unless faces are
// pinned: then a private configuration holding only the pinned files answers,
// so tests and whole-program runs (PLATFORM_FONT_DIR) see the same glyphs on
// every machine.
#include "gdi/faces.h"

#include <fontconfig/fontconfig.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "kernel/ascii.h"

namespace platform::gdi {
namespace {

constexpr const char* kDefaultFamily = "DejaVu Sans";
constexpr const char* kJapaneseFamily = "IPAGothic";
constexpr FcChar32 kJapaneseProbe = 0x3042;  // HIRAGANA LETTER A

using platform::ascii::Fold;

struct PatternDeleter {
  void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;
struct ConfigDeleter {
  void operator()(FcConfig* c) const { FcConfigDestroy(c); }
};
using Config = std::unique_ptr<FcConfig, ConfigDeleter>;

struct FaceState {
  std::map<std::string, std::string> substitutes;  // folded face name -> family
  std::vector<std::string> pins;
  Config pinned;  // built from the pins on first use
  bool pinnedBuilt = false;
};

std::vector<std::string> DefaultPins() {
  const char* dir = std::getenv("PLATFORM_FONT_DIR");
  if (dir && *dir) return {dir};
  return {};
}

void Defaults(FaceState& s) {
  s.substitutes = {{"arial", "Liberation Sans"},
                   {"times new roman", "Liberation Serif"},
                   {"courier new", "Liberation Mono"}};
  s.pins = DefaultPins();
  s.pinned.reset();
  s.pinnedBuilt = false;
}

FaceState& State() {
  static FaceState* state = [] {
    auto* s = new FaceState;  // kept for the process: fonts may outlive static destruction
    Defaults(*s);
    return s;
  }();
  return *state;
}

// Null means the system configuration. When pins are set, a private one.
bool CurrentConfig(FcConfig** config) {
  FaceState& s = State();
  if (s.pins.empty()) {
    static const bool ok = FcInit();
    *config = nullptr;
    return ok;
  }
  if (!s.pinnedBuilt) {
    s.pinnedBuilt = true;
    FcConfig* c = FcConfigCreate();
    if (c) {
      // Files one by one: adding a folder would make fontconfig try to write
      // a cache for it, which a private configuration has no place for.
      std::vector<std::string> files;
      for (const std::string& p : s.pins) {
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
          for (auto it = std::filesystem::recursive_directory_iterator(p, ec);
               !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file(ec)) files.push_back(it->path().string());
        } else if (std::filesystem::is_regular_file(p, ec)) {
          files.push_back(p);
        }
      }
      std::sort(files.begin(), files.end());
      for (const std::string& f : files) FcConfigAppFontAddFile(c, reinterpret_cast<const FcChar8*>(f.c_str()));
    }
    s.pinned.reset(c);
  }
  *config = s.pinned.get();
  return *config != nullptr;
}

struct Match {
  FaceChoice choice;
  bool familyMatched = false;
  bool hasJapanese = false;
};

std::optional<Match> MatchFamily(const std::string& family, const FaceRequest& r, bool japanese) {
  FcConfig* config = nullptr;
  if (!CurrentConfig(&config)) return std::nullopt;
  Pattern pattern(FcPatternCreate());
  if (!pattern) return std::nullopt;
  const bool bold = r.weight >= 600;
  FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern.get(), FC_SLANT, r.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if ((r.pitch & 3) == 1) FcPatternAddInteger(pattern.get(), FC_SPACING, FC_MONO);
  if (japanese || r.charset == 128) FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
  FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern.get(), FcMatchPattern);
  FcDefaultSubstitute(pattern.get());

  FcResult result = FcResultNoMatch;
  Pattern found(FcFontMatch(config, pattern.get(), &result));
  if (!found) return std::nullopt;
  FcChar8* file = nullptr;
  if (FcPatternGetString(found.get(), FC_FILE, 0, &file) != FcResultMatch || !file) return std::nullopt;

  Match m;
  m.choice.file = reinterpret_cast<const char*>(file);
  int index = 0;
  if (FcPatternGetInteger(found.get(), FC_INDEX, 0, &index) == FcResultMatch) m.choice.index = index;
  int weight = FC_WEIGHT_REGULAR;
  FcPatternGetInteger(found.get(), FC_WEIGHT, 0, &weight);
  int slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(found.get(), FC_SLANT, 0, &slant);
  m.choice.synthBold = bold && weight < FC_WEIGHT_DEMIBOLD;
  m.choice.synthItalic = r.italic && slant == FC_SLANT_ROMAN;

  const std::string wanted = Fold(family);
  FcChar8* name = nullptr;
  for (int i = 0; FcPatternGetString(found.get(), FC_FAMILY, i, &name) == FcResultMatch; ++i)
    if (Fold(reinterpret_cast<const char*>(name)) == wanted) m.familyMatched = true;
  FcCharSet* chars = nullptr;
  if (FcPatternGetCharSet(found.get(), FC_CHARSET, 0, &chars) == FcResultMatch && chars)
    m.hasJapanese = FcCharSetHasChar(chars, kJapaneseProbe);
  return m;
}

}  // namespace

std::optional<FaceChoice> ChooseFace(const FaceRequest& request) {
  const FaceState& s = State();
  std::string family = request.name;
  auto sub = s.substitutes.find(Fold(family));
  if (sub != s.substitutes.end()) family = sub->second;
  if (family.empty()) family = kDefaultFamily;

  std::optional<Match> m = MatchFamily(family, request, false);
  // A family nobody has (or an unknown face name) gets the default family.
  if (m && !m->familyMatched && Fold(family) != Fold(kDefaultFamily)) {
    if (std::optional<Match> d = MatchFamily(kDefaultFamily, request, false)) m = d;
  }
  if (!m) return std::nullopt;
  return m->choice;
}

std::optional<FaceChoice> ChooseJapaneseFallback(const FaceRequest& request, const std::string& primaryFile) {
  std::optional<Match> m = MatchFamily(kJapaneseFamily, request, true);
  if (!m || !m->hasJapanese || m->choice.file == primaryFile) return std::nullopt;
  return m->choice;
}

FT_Library Library() {
  static FT_Library library = [] {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) lib = nullptr;
    return lib;
  }();
  return library;
}

void ResetFaces() { Defaults(State()); }

void PinFaces(const std::vector<std::string>& filesOrFolders) {
  FaceState& s = State();
  s.pins = filesOrFolders.empty() ? DefaultPins() : filesOrFolders;
  s.pinned.reset();
  s.pinnedBuilt = false;
}

void SetSubstitute(const std::string& face, const std::string& family) {
  FaceState& s = State();
  if (family.empty())
    s.substitutes.erase(Fold(face));
  else
    s.substitutes[Fold(face)] = family;
}

}  // namespace platform::gdi
