// Music through the filter graph: opening, playing, looping on the next
// window message after the end, and the player list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/com.h"
#include "platform/mm_timer.h"
#include "platform/testing.h"
#include "platform/win_user.h"
#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelmusic.h"
#include "tests/platform/audio_files.h"
#include "tests/support/outside_input.h"

namespace {

using nura::test::HaveTool;
using nura::test::RunCommand;
using platform::test::AudioEventKind;

class Music : public testing::Test {
 protected:
  void SetUp() override {
    g_ErrorLog.ForgetReports();
    platform::test::UseFakeClock();
    ASSERT_TRUE(InitMusic());
  }
  void TearDown() override { CoUninitialize(); }

  // A short tone: an MP3 from lame when the tools exist, else a WAVE file.
  std::string Tone(double seconds) {
    const std::string wav = m_dir / "tone.wav";
    if (nura::test::OutsideInputsRequired()) {
      EXPECT_TRUE(HaveTool("sox") && HaveTool("lame")) << "sox and lame are missing (CI is set)";
    }
    if (HaveTool("sox") && HaveTool("lame")) {
      const std::string mp3 = m_dir / "tone.mp3";
      if (RunCommand("sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth " + std::to_string(seconds) +
                     " sine 440 gain -6") == 0 &&
          RunCommand("lame --quiet '" + wav + "' '" + mp3 + "'") == 0)
        return mp3;
    }
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(seconds * 44100) * 2, 0x10);
    nura::test::WriteFileBytes(wav, nura::test::MakeWave(1, 1, 44100, 16, samples));
    return wav;
  }

  nura::test::TempDir m_dir;
  nura::test::ScopedChdir m_chdir{m_dir.path()};  // the error log goes there
};

TEST_F(Music, LoopsOnTheFirstMessageAfterTheEnd) {
  C_Music music;
  ASSERT_EQ(music.Open(Tone(0.5).c_str()), S_OK);
  EXPECT_FALSE(music.IsRunning()) << "opened stopped";
  music.Play();
  EXPECT_TRUE(music.IsRunning());
  platform::test::AdvanceClock(1000);  // well past the end
  EXPECT_TRUE(music.IsRunning()) << "the graph stays running after the end";
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphComplete).size(), 1u);
  EXPECT_TRUE(platform::test::AudioEventsOf(AudioEventKind::GraphSeek).empty());

  C_Music::PollEvents(nullptr, WM_NULL, 0, 0);
  auto seeks = platform::test::AudioEventsOf(AudioEventKind::GraphSeek);
  ASSERT_EQ(seeks.size(), 1u);
  EXPECT_EQ(seeks[0].position, 0);
  // Later messages do nothing until the music ends again.
  C_Music::PollEvents(nullptr, WM_NULL, 0, 0);
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphSeek).size(), 1u);
  platform::test::StartMixCapture();
  platform::test::AdvanceClock(100);
  auto mix = platform::test::MixCapture();
  bool sound = false;
  for (auto s : mix) sound = sound || s != 0;
  EXPECT_TRUE(sound) << "playing again from the start";
  platform::test::AdvanceClock(900);
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphComplete).size(), 2u);
  C_Music::PollEvents(nullptr, WM_NULL, 0, 0);
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphSeek).size(), 2u);
  music.Close();
}

TEST_F(Music, StopPausesAndPlayResumes) {
  C_Music music;
  ASSERT_EQ(music.Open(Tone(0.5).c_str()), S_OK);
  music.Play();
  platform::test::AdvanceClock(200);
  music.Stop();
  EXPECT_FALSE(music.IsRunning());
  platform::test::AdvanceClock(1000);
  EXPECT_TRUE(platform::test::AudioEventsOf(AudioEventKind::GraphComplete).empty());
  music.Play();
  platform::test::AdvanceClock(200);
  EXPECT_TRUE(platform::test::AudioEventsOf(AudioEventKind::GraphComplete).empty()) << "resumed in place";
  platform::test::AdvanceClock(200);
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphComplete).size(), 1u);
  music.Close();
}

TEST_F(Music, AFailedOpenReportsAndStaysSilent) {
  C_Music music;
  nura::test::WriteFileText(m_dir / "Text.mp3", "no music here");
  for (const char* name : {"Fjord.mp3", "Text.mp3", "Fjord.mp3"}) {
    EXPECT_EQ(music.Open(name), E_FAIL);
    music.Play();
    EXPECT_FALSE(music.IsRunning());
    music.Stop();
    C_Music::PollEvents(nullptr, WM_NULL, 0, 0);
  }
  EXPECT_TRUE(platform::test::AudioEventsOf(AudioEventKind::GraphRun).empty());
  // Named once each, with the system's reason or the player's.
  std::ifstream log("ErrorLog.txt");
  std::string first, second, third;
  std::getline(log, first);
  std::getline(log, second);
  EXPECT_FALSE(std::getline(log, third)) << third;
  EXPECT_THAT(first, testing::EndsWith(
                         " : Fjord.mp3 could not be opened: ERROR_FILE_NOT_FOUND (2) The system cannot find the file "
                         "specified.\r"));
  EXPECT_THAT(second, testing::EndsWith(" : Text.mp3 could not be played: VFW_E_UNSUPPORTED_STREAM (0x80040265) "
                                        "The file holds a stream that cannot be played.\r"));
}

TEST_F(Music, OpeningAgainReleasesTheFirstGraph) {
  const std::string path = Tone(0.2);
  const std::size_t voices = platform::test::AudioVoiceCount();
  C_Music music;
  ASSERT_EQ(music.Open(path.c_str()), S_OK);
  music.Play();
  ASSERT_EQ(music.Open(path.c_str()), S_OK);
  EXPECT_EQ(platform::test::AudioVoiceCount(), voices + 1);
  EXPECT_FALSE(music.IsRunning());
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphOpen).size(), 2u);
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::GraphStop).size(), 1u);
  music.Close();
  EXPECT_EQ(platform::test::AudioVoiceCount(), voices);
  music.Close();  // closing twice is harmless
}

TEST_F(Music, TheLastPlayerTakesTheListAlong) {
  EXPECT_EQ(g_pMusicList, nullptr);
  {
    C_Music a;
    ASSERT_NE(g_pMusicList, nullptr);
    {
      C_Music b;
      EXPECT_EQ(g_pMusicList->size(), 2u);
      EXPECT_EQ((*g_pMusicList)[0], &a);
    }
    EXPECT_EQ(g_pMusicList->size(), 1u);
  }
  EXPECT_EQ(g_pMusicList, nullptr);
  C_Music::PollEvents(nullptr, WM_NULL, 0, 0);  // nothing to poll
}

TEST_F(Music, ShutdownClosesEveryPlayer) {
  C_Music music;
  ASSERT_EQ(music.Open(Tone(0.2).c_str()), S_OK);
  music.Play();
  ShutdownMusic();
  EXPECT_FALSE(music.IsRunning());
  EXPECT_EQ(platform::test::AudioVoiceCount(), 0u);
  ASSERT_TRUE(InitMusic());  // for TearDown's balance
}

}  // namespace
