// Sound effects end to end: start-up, loading, playing and cutting off, with
// the platform's recorder and mix capture as the ears.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/com.h"
#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelsound.h"
#include "tests/platform/audio_files.h"

namespace {

using nura::test::MakeWave;
using nura::test::WriteFileBytes;
using platform::test::AudioEventKind;

// The texts of the error log's lines.
std::vector<std::string> LogTexts() {
  std::ifstream in("ErrorLog.txt", std::ios::binary);
  std::vector<std::string> texts;
  for (std::string line; std::getline(in, line);) {
    const std::size_t text = line.find(" : ") + 3;
    texts.push_back(line.substr(text, line.size() - text - 1));  // without the CR
  }
  return texts;
}

class SoundBuffer : public testing::Test {
 protected:
  void SetUp() override {
    g_ErrorLog.ForgetReports();
    platform::test::UseFakeClock();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_TRUE(InitSound(nullptr));
  }
  void TearDown() override {
    ShutdownSound();
    EXPECT_EQ(g_pDirectSound, nullptr);
    CoUninitialize();
  }

  // A mono 16-bit file of frames samples (a ramp from first).
  std::string MakeFile(const std::string& name, unsigned rate, int frames, int first) {
    std::vector<std::uint8_t> samples;
    for (int i = 0; i < frames; ++i) {
      std::int16_t v = static_cast<std::int16_t>(first + i);
      samples.push_back(static_cast<std::uint8_t>(v));
      samples.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    std::string path = m_dir / name;
    WriteFileBytes(path, MakeWave(1, 1, rate, 16, samples));
    return path;
  }

  nura::test::TempDir m_dir;
  nura::test::ScopedChdir m_chdir{m_dir.path()};  // the error log goes there
};

TEST_F(SoundBuffer, StartUpMakesTheDeviceAndPrimaryBuffer) {
  EXPECT_NE(g_pDirectSound, nullptr);
  EXPECT_NE(g_pPrimaryBuffer, nullptr);
}

TEST_F(SoundBuffer, PlaysAFileOnceUntilItEnds) {
  std::string path = MakeFile("ramp.wav", 44100, 4410, 1000);  // 100 ms
  C_SoundBuffer sound;
  platform::test::StartMixCapture();
  sound.LoadAndPlay(path.c_str());
  ASSERT_TRUE(sound.HasBuffer());
  EXPECT_TRUE(sound.IsPlaying());
  platform::test::AdvanceClock(99);
  EXPECT_TRUE(sound.IsPlaying());
  platform::test::AdvanceClock(1);
  EXPECT_FALSE(sound.IsPlaying());
  auto mix = platform::test::MixCapture();
  ASSERT_GE(mix.size(), 2u * 4410);
  for (int i = 0; i < 4410; ++i) {
    ASSERT_EQ(mix[2 * i], 1000 + i) << i;
    ASSERT_EQ(mix[2 * i + 1], 1000 + i) << i;
  }
  // The recorder names the file by the checksum of its samples.
  auto plays = platform::test::AudioEventsOf(AudioEventKind::BufferPlay);
  ASSERT_EQ(plays.size(), 1u);
  auto bytes = nura::test::ReadFileBytes(path);
  EXPECT_EQ(plays[0].crc, platform::test::AudioCrc32(bytes.data() + 44, bytes.size() - 44));
  EXPECT_FALSE(plays[0].looping);
}

TEST_F(SoundBuffer, LoadingAnotherEffectCutsTheFirstOff) {
  std::string first = MakeFile("a.wav", 22050, 22050, 0);
  std::string second = MakeFile("b.wav", 22050, 2205, 0);
  C_SoundBuffer sound;
  sound.LoadAndPlay(first.c_str());
  platform::test::AdvanceClock(50);
  sound.LoadAndPlay(second.c_str());
  auto events = platform::test::AudioEvents();
  std::vector<AudioEventKind> kinds;
  for (auto& e : events) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<AudioEventKind>{AudioEventKind::BufferCreate, AudioEventKind::BufferPlay,
                                               AudioEventKind::BufferStop, AudioEventKind::BufferRelease,
                                               AudioEventKind::BufferCreate, AudioEventKind::BufferPlay}));
  EXPECT_EQ(platform::test::AudioVoiceCount(), 1u);
  EXPECT_TRUE(sound.IsPlaying());
}

TEST_F(SoundBuffer, AMissingOrBadFileEmptiesTheBuffer) {
  std::string good = MakeFile("good.wav", 8000, 800, 0);
  C_SoundBuffer sound;
  sound.Load(good.c_str());
  ASSERT_TRUE(sound.HasBuffer());
  sound.Load("missing.wav");
  EXPECT_FALSE(sound.HasBuffer());
  sound.Play();
  sound.Stop();
  EXPECT_FALSE(sound.IsPlaying());
  EXPECT_TRUE(platform::test::AudioEventsOf(AudioEventKind::BufferPlay).empty());

  // A format the device refuses (24-bit samples) leaves it empty too, as does
  // a file that is no WAVE file. Each is named once, however often it is loaded.
  WriteFileBytes(m_dir / "deep.wav", MakeWave(1, 1, 8000, 24, std::vector<std::uint8_t>(300, 1)));
  nura::test::WriteFileText(m_dir / "text.wav", "RIFF? no.");
  for (int again = 0; again < 2; ++again) {
    sound.Load("deep.wav");
    EXPECT_FALSE(sound.HasBuffer());
    sound.Load("text.wav");
    EXPECT_FALSE(sound.HasBuffer());
    sound.Load("missing.wav");
  }
  EXPECT_THAT(LogTexts(),
              testing::ElementsAre(
                  "missing.wav could not be opened: ERROR_FILE_NOT_FOUND (2) The system cannot find the file "
                  "specified.",
                  "deep.wav could not be played: DSERR_BADFORMAT (0x88780064) The wave format given is not supported.",
                  "text.wav is no RIFF WAVE file with PCM samples"));
}

TEST_F(SoundBuffer, StopKeepsThePosition) {
  std::string path = MakeFile("s.wav", 44100, 44100, 0);
  C_SoundBuffer sound;
  sound.LoadAndPlay(path.c_str());
  platform::test::AdvanceClock(300);
  sound.Stop();
  EXPECT_FALSE(sound.IsPlaying());
  platform::test::AdvanceClock(300);
  sound.Play();
  platform::test::AdvanceClock(699);
  EXPECT_TRUE(sound.IsPlaying());
  platform::test::AdvanceClock(1);
  EXPECT_FALSE(sound.IsPlaying());
}

TEST_F(SoundBuffer, ShutdownReleasesEveryListedBuffer) {
  std::string path = MakeFile("s.wav", 44100, 100, 0);
  const std::size_t listed = g_SoundBuffers.Size();
  C_SoundBuffer a, b;
  EXPECT_EQ(g_SoundBuffers.Size(), listed + 2);
  a.Load(path.c_str());
  b.Load(path.c_str());
  ShutdownSound();
  EXPECT_FALSE(a.HasBuffer());
  EXPECT_FALSE(b.HasBuffer());
  EXPECT_EQ(g_pPrimaryBuffer, nullptr);
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::BufferRelease).size(), 2u);
}

TEST(SoundStartUp, WithoutComThereIsNoSound) {
  nura::test::TempDir dir;
  nura::test::ScopedChdir in(dir.path());
  EXPECT_FALSE(InitSound(nullptr));
  EXPECT_EQ(g_pDirectSound, nullptr);
  C_SoundBuffer sound;
  sound.Load("SE/anything.wav");
  EXPECT_FALSE(sound.HasBuffer());
  EXPECT_FALSE(sound.IsPlaying());
}

}  // namespace
