// Sound effects, music and the sample settings file. Each WAVE file is walked
// twice: by the game's reading rule (the format chunk first, 18 bytes read,
// other chunks skipped by their stated size) and by the RIFF rule (odd chunks
// padded to even); both must find the same samples. The music and every pair
// of effects are mixed by the platform at their loudest points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "game/settings.h"
#include "platform/testing.h"
#include "qel/appbase/qelsound.h"
#include "tests/assets/assets_support.h"
#include "tests/support/filter_graph.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace nura::assets_test {
namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
bool Tag(const std::vector<std::uint8_t>& b, size_t at, const char* tag) {
  return at + 4 <= b.size() && std::memcmp(&b[at], tag, 4) == 0;
}

struct Wave {
  std::uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
  std::uint32_t rate = 0, byteRate = 0, formatSize = 0;
  size_t dataAt = 0, dataSize = 0;
  bool hasList = false;
};

// The game's rule: "RIFF", size, "WAVE", then "fmt " must come first; 18 bytes
// of format are read whatever its size; then chunks are skipped by their
// stated size, without padding, up to "data".
bool ReadLikeTheGame(const std::vector<std::uint8_t>& b, Wave* w) {
  if (b.size() < 38 || !Tag(b, 0, "RIFF") || !Tag(b, 8, "WAVE") || !Tag(b, 12, "fmt ")) return false;
  w->formatSize = U32(b, 16);
  w->formatTag = U16(b, 20);
  w->channels = U16(b, 22);
  w->rate = U32(b, 24);
  w->byteRate = U32(b, 28);
  w->blockAlign = U16(b, 32);
  w->bits = U16(b, 34);
  size_t at = 20 + w->formatSize;
  while (at + 8 <= b.size()) {
    std::uint32_t size = U32(b, at + 4);
    if (Tag(b, at, "data")) {
      w->dataAt = at + 8;
      w->dataSize = size;
      return w->dataAt + size <= b.size();
    }
    if (Tag(b, at, "LIST")) w->hasList = true;
    at += 8 + size;
  }
  return false;
}

// The RIFF rule: chunks in any order, odd sizes padded; the RIFF size covers the file.
bool ReadLikeRiff(const std::vector<std::uint8_t>& b, size_t* dataAt, size_t* dataSize) {
  if (b.size() < 12 || !Tag(b, 0, "RIFF") || !Tag(b, 8, "WAVE") || U32(b, 4) + 8 != b.size()) return false;
  size_t at = 12;
  while (at + 8 <= b.size()) {
    std::uint32_t size = U32(b, at + 4);
    if (Tag(b, at, "data")) {
      *dataAt = at + 8;
      *dataSize = size;
      return true;
    }
    at += 8 + size + (size & 1);
  }
  return false;
}

std::vector<float> Samples(const std::vector<std::uint8_t>& b, const Wave& w) {
  std::vector<float> s;
  for (size_t i = 0; i + 1 < w.dataSize; i += 2)
    s.push_back(static_cast<std::int16_t>(U16(b, w.dataAt + i)) / 32768.0f);
  return s;
}

TEST(AssetsSounds, EveryEffectReadsAlikeByTheGamesRuleAndByRiff) {
  bool short16 = false, list = false;
  for (const std::string& name : SoundNames()) {
    SCOPED_TRACE(name);
    std::vector<std::uint8_t> b = test::ReadFileBytes(DataPath(name));
    Wave w;
    ASSERT_TRUE(ReadLikeTheGame(b, &w));
    size_t at = 0, size = 0;
    ASSERT_TRUE(ReadLikeRiff(b, &at, &size));
    EXPECT_EQ(at, w.dataAt);
    EXPECT_EQ(size, w.dataSize);
    EXPECT_EQ(w.formatTag, 1) << "PCM";
    EXPECT_TRUE(w.formatSize == 16 || w.formatSize == 18);
    EXPECT_TRUE(w.channels == 1 || w.channels == 2);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.blockAlign, w.channels * 2);
    EXPECT_EQ(w.byteRate, w.rate * w.blockAlign);
    EXPECT_EQ(w.dataSize % w.blockAlign, 0u);
    double seconds = static_cast<double>(w.dataSize) / w.byteRate;
    EXPECT_GT(seconds, 0.05);
    EXPECT_LT(seconds, 2.5);
    short16 |= w.formatSize == 16;
    list |= w.hasList;
  }
  EXPECT_TRUE(short16) << "no effect has a 16-byte format chunk";
  EXPECT_TRUE(list) << "no effect has a LIST chunk";
}

TEST(AssetsSounds, EffectsAreAudibleUnclippedAndEndWithoutAClick) {
  for (const std::string& name : SoundNames()) {
    SCOPED_TRACE(name);
    std::vector<std::uint8_t> b = test::ReadFileBytes(DataPath(name));
    Wave w;
    ASSERT_TRUE(ReadLikeTheGame(b, &w));
    std::vector<float> s = Samples(b, w);
    float peak = 0;
    size_t clipped = 0;
    double energy = 0;
    for (float x : s) {
      peak = std::max(peak, std::fabs(x));
      clipped += std::fabs(x) > 0.999f;
      energy += x * x;
    }
    EXPECT_GT(peak, 0.25f);
    EXPECT_EQ(clipped, 0u);
    EXPECT_GT(std::sqrt(energy / s.size()), 0.02);
    for (size_t i = s.size() - w.channels; i < s.size(); ++i) EXPECT_LT(std::fabs(s[i]), 0.01f);
  }
}

TEST(AssetsSounds, SoxReadsTheSameFormat) {
  NURA_REQUIRE_OUTSIDE_INPUT(test::HaveTool("sox"), "sox");
  for (const std::string& name : SoundNames()) {
    std::vector<std::uint8_t> b = test::ReadFileBytes(DataPath(name));
    Wave w;
    ASSERT_TRUE(ReadLikeTheGame(b, &w)) << name;
    std::string rate, channels;
    ASSERT_EQ(test::RunCommand("sox --i -r '" + DataPath(name) + "'", &rate), 0) << name;
    ASSERT_EQ(test::RunCommand("sox --i -c '" + DataPath(name) + "'", &channels), 0) << name;
    EXPECT_EQ(std::stoul(rate), w.rate) << name;
    EXPECT_EQ(std::stoul(channels), w.channels) << name;
  }
}

TEST(AssetsMusic, TheTuneDecodesToHalfAMinuteOrMore) {
  ASSERT_TRUE(test::HaveTool("lame"));
  test::TempDir dir;
  std::string wav = dir / "fjord.wav", log;
  ASSERT_EQ(test::RunCommand("lame --quiet --decode '" + DataPath("Fjord.mp3") + "' '" + wav + "' 2>&1", &log), 0) << log;
  std::vector<std::uint8_t> b = test::ReadFileBytes(wav);
  Wave w;
  ASSERT_TRUE(ReadLikeTheGame(b, &w));
  double seconds = static_cast<double>(w.dataSize) / w.byteRate;
  EXPECT_GE(seconds, 30.0);
  EXPECT_LE(seconds, 61.0);
  size_t at = w.dataAt, size = w.dataSize;
  // Not silent: the middle of the tune carries sound.
  double energy = 0;
  size_t n = 0;
  for (size_t i = at + size / 2; i + 1 < at + size / 2 + 441000 && i + 1 < b.size(); i += 2, ++n) {
    float x = static_cast<std::int16_t>(U16(b, i)) / 32768.0f;
    energy += x * x;
  }
  EXPECT_GT(std::sqrt(energy / n), 0.05);
}

// Runs the music from the output frame `frame` (44,100 per second) on; the
// time is rounded up, so that the graph's frame (rounded down) is this one.
void RunFrom(test::FilterGraph& music, std::size_t frame) {
  music.control->Stop();
  LONGLONG at = (static_cast<LONGLONG>(frame) * 10000000 + 44099) / 44100;
  ASSERT_EQ(music.seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_EQ(music.control->Run(), S_OK);
}

// The loudest sample of interleaved samples: its frame and magnitude.
std::pair<std::size_t, float> Loudest(const std::vector<float>& s, int channels) {
  std::size_t at = 0;
  for (std::size_t i = 1; i < s.size(); ++i)
    if (std::fabs(s[i]) > std::fabs(s[at])) at = i;
  return {at / channels, s.empty() ? 0.0f : std::fabs(s[at])};
}

double Dbfs(float amplitude) { return 20.0 * std::log10(amplitude); }

// The levels leave the mixer headroom: the music peaks at about -9 dBFS and
// every effect at about -10.5 dBFS, so that with the music at its loudest and
// any two effects at theirs on top of it, mixed by the platform as the game
// plays them, no sample reaches full scale.
TEST(AssetsSounds, MusicAndAnyTwoEffectsAtTheirLoudestStayBelowFullScale) {
  test::ScopedChdir here(DataDir());
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  ASSERT_TRUE(InitSound(nullptr));
  {
    test::FilterGraph music;
    ASSERT_EQ(music.Render("Fjord.mp3"), S_OK);
    platform::test::StartMixCapture();
    RunFrom(music, 0);
    platform::test::PullAudio(46 * 44100);
    const std::vector<std::int16_t> tune = platform::test::MixCapture();
    const auto [musicAt, musicPeak] = Loudest(std::vector<float>(tune.begin(), tune.end()), 2);
    EXPECT_NEAR(Dbfs(musicPeak / 32768.0f), -9.0, 0.75);

    // Each effect's loudest frame at the output rate.
    struct Loud {
      std::string name;
      std::size_t frame, frames;
    };
    std::vector<Loud> effects;
    for (const std::string& name : SoundNames()) {
      std::vector<std::uint8_t> b = test::ReadFileBytes(name);
      Wave w;
      ASSERT_TRUE(ReadLikeTheGame(b, &w));
      const std::vector<float> samples = Samples(b, w);
      const auto [at, peak] = Loudest(samples, w.channels);
      EXPECT_NEAR(Dbfs(peak), -10.5, 0.25) << name;
      effects.push_back({name, at * 44100 / w.rate, samples.size() / w.channels * 44100 / w.rate});
    }

    C_SoundBuffer first, second;
    for (std::size_t a = 0; a < effects.size(); ++a)
      for (std::size_t b = a + 1; b < effects.size(); ++b) {
        // The effect whose loudest point comes later starts first.
        const Loud& early = effects[a].frame >= effects[b].frame ? effects[a] : effects[b];
        const Loud& late = &early == &effects[a] ? effects[b] : effects[a];
        ASSERT_GE(musicAt, early.frame);
        RunFrom(music, musicAt - early.frame);
        platform::test::StartMixCapture();
        first.LoadAndPlay(early.name.c_str());
        platform::test::PullAudio(early.frame - late.frame);
        second.LoadAndPlay(late.name.c_str());
        platform::test::PullAudio(std::max(early.frames, late.frames));
        int full = 0;
        for (std::int16_t x : platform::test::MixCapture()) full += x >= 32767 || x <= -32767;
        EXPECT_EQ(full, 0) << early.name << " with " << late.name;
      }
    platform::test::StopMixCapture();
    first.Release();
    second.Release();
  }
  ShutdownSound();
  CoUninitialize();
}

// The sample lies where the game looks for it: beside the program.
TEST(AssetsSettings, SampleIniBesideTheProgramHasTheFourDebugKeys) {
  std::vector<std::uint8_t> b = test::ReadFileBytes(SettingsPathFor(NURA_GAME_PROGRAM));
  std::string text(b.begin(), b.end());
  EXPECT_EQ(text.rfind("[Debug]\r\n", 0), 0u);
  for (const char* key : {"LIFE_INFINITY=", "START_STAGE=", "SKIP_NAMEENTRY=", "START_LIFE="})
    EXPECT_NE(text.find(std::string("\r\n") + key), std::string::npos) << key;
}

}  // namespace
}  // namespace nura::assets_test
