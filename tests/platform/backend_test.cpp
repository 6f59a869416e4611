#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/mm_timer.h"
#include "platform/src/backend/backend.h"
#include "platform/testing.h"
#include "tests/support/outside_input.h"
#include "tests/support/test_util.h"

namespace {

using platform::backend::PresentFrame;

TEST(PlatformFrames, PresentedFramesArriveAsRgba) {
  // 3 x 2 pixels in rows padded to 16 bytes; the alpha of the source is ignored.
  std::vector<std::uint32_t> buf = {0x00112233, 0x80FF0000, 0xFF00FF00, 0xDEADBEEF,
                                    0x000000FF, 0x12345678, 0xFFFFFFFF, 0xDEADBEEF};
  std::vector<platform::test::Frame> frames;
  std::vector<std::int64_t> after;
  platform::test::OnPresent([&](const platform::test::Frame& f) { frames.push_back(f); });
  platform::test::OnFrame([&](std::int64_t n) {
    after.push_back(n);
    EXPECT_EQ(frames.size(), static_cast<size_t>(n));  // after the frame callbacks
  });
  PresentFrame(buf.data(), 3, 2, 16);
  PresentFrame(buf.data(), 3, 2, 16);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].number, 2);
  EXPECT_EQ(frames[0].width, 3);
  EXPECT_EQ(frames[0].height, 2);
  const std::vector<std::uint8_t> expect = {0x11, 0x22, 0x33, 255, 0xFF, 0, 0, 255, 0, 0xFF, 0, 255,
                                            0, 0, 0xFF, 255, 0x34, 0x56, 0x78, 255, 0xFF, 0xFF, 0xFF, 255};
  EXPECT_EQ(frames[0].rgba, expect);
  EXPECT_EQ(after, (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(platform::test::FrameCount(), 2);
  platform::test::ResetAll();
  EXPECT_EQ(platform::test::FrameCount(), 0);
  PresentFrame(buf.data(), 3, 2, 16);
  EXPECT_EQ(frames.size(), 2u);  // the reset dropped the callbacks
}

TEST(PlatformFrames, FakeClockCostPerPresent) {
  DWORD t0 = timeGetTime();
  std::uint32_t px = 0;
  PresentFrame(&px, 1, 1, 4);
  EXPECT_EQ(timeGetTime(), t0);
  platform::test::SetClockMsPerPresent(16);
  PresentFrame(&px, 1, 1, 4);
  PresentFrame(&px, 1, 1, 4);
  EXPECT_EQ(timeGetTime(), t0 + 32);
}

struct Counter {
  std::int64_t frames = 0;
  int calls = 0;
  std::int16_t next = 0;
};

void CountingMixer(void* user, std::int16_t* out, int frames) {
  auto* c = static_cast<Counter*>(user);
  c->frames += frames;
  ++c->calls;
  for (int i = 0; i < frames * platform::backend::kAudioChannels; ++i) out[i] = c->next++;
}

TEST(PlatformAudio, FakeClockPullsElapsedTimesFortyFourPointOne) {
  Counter c;
  std::int64_t tapped = 0;
  bool ordered = true;
  std::int16_t expectNext = 0;
  platform::test::OnAudioPulled([&](const std::int16_t* s, int frames) {
    for (int i = 0; i < frames * 2; ++i) ordered = ordered && s[i] == expectNext++;
    tapped += frames;
  });
  platform::backend::SetAudioMixer(&CountingMixer, &c);
  Sleep(10);
  EXPECT_EQ(c.frames, 441);
  // Single milliseconds carry their fractions: 10 of them make 441 again.
  for (int i = 0; i < 10; ++i) Sleep(1);
  EXPECT_EQ(c.frames, 882);
  // A long stretch is pulled in bounded pieces.
  Sleep(1000);
  EXPECT_EQ(c.frames, 882 + 44100);
  EXPECT_GT(c.calls, 12);
  EXPECT_EQ(tapped, c.frames);
  EXPECT_TRUE(ordered);
  // Without a mixer nothing is pulled.
  platform::backend::SetAudioMixer(nullptr, nullptr);
  Sleep(100);
  EXPECT_EQ(c.frames, 882 + 44100);
  // Silence comes from a sink with no mixer.
  std::int16_t out[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  platform::backend::MixInto(out, 4);
  for (auto v : out) EXPECT_EQ(v, 0);
}

TEST(PlatformFrames, LetterboxFitsAndCentres) {
  auto lb = platform::backend::FitClient(640, 480, 1920, 1080);
  EXPECT_DOUBLE_EQ(lb.scale, 2.25);
  EXPECT_DOUBLE_EQ(lb.offsetX, 240.0);
  EXPECT_DOUBLE_EQ(lb.offsetY, 0.0);
  lb = platform::backend::FitClient(640, 480, 640, 480);
  EXPECT_DOUBLE_EQ(lb.scale, 1.0);
  EXPECT_DOUBLE_EQ(lb.offsetX, 0.0);
  lb = platform::backend::FitClient(640, 480, 800, 1000);
  EXPECT_DOUBLE_EQ(lb.scale, 1.25);
  EXPECT_DOUBLE_EQ(lb.offsetY, 200.0);
}

// The demo program headless: it runs the frames asked for, exits 0, and its
// captured frames are ordinary PNG files that another decoder reads back.
TEST(PlatformDemo, RunsHeadlessAndCapturesFrames) {
  std::string demo = std::string(NURA_TEST_BINARY_DIR) + "/../../platform/platform_demo";
  nura::test::TempDir dir;
  std::string cmd = "PLATFORM_BACKEND=headless PLATFORM_CAPTURE_DIR='" + dir.path() +
                    "' PLATFORM_CAPTURE_EVERY=5 '" + demo + "' --frames 10 2>&1";
  std::string output;
  ASSERT_EQ(nura::test::RunCommand(cmd, &output), 0) << output;
  auto png = nura::test::ReadFileBytes(dir / "frame_000010.png");
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png[1], 'P');
  NURA_REQUIRE_OUTSIDE_INPUT(nura::test::HaveTool("/usr/bin/python3"), "/usr/bin/python3");
  // Frame 10 was drawn with frame count 9: r = x + 18, g = y + 9, b = (x ^ y) + 9.
  std::string probe = "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + (dir / "frame_000010.png") +
                      "'); print(im.size, im.getpixel((100, 50)), im.getpixel((639, 479)))\" 2>&1";
  std::string out;
  ASSERT_EQ(nura::test::RunCommand(probe, &out), 0) << out;
  EXPECT_EQ(out, "(640, 480) (118, 59, 95, 255) (145, 232, 169, 255)\n");
}

// A whole-program run scripted through PLATFORM_INPUT_SCRIPT: the close on frame
// 3 ends the demo before its fourth frame.
TEST(PlatformDemo, InputScriptFromTheEnvironment) {
  std::string demo = std::string(NURA_TEST_BINARY_DIR) + "/../../platform/platform_demo";
  nura::test::TempDir dir;
  nura::test::WriteFileText(dir / "input.txt", "# close the window\nframe 3 close\n");
  std::string cmd = "PLATFORM_BACKEND=headless PLATFORM_INPUT_SCRIPT='" + (dir / "input.txt") +
                    "' PLATFORM_CAPTURE_DIR='" + dir.path() + "' PLATFORM_CAPTURE_EVERY=1 '" + demo +
                    "' --frames 100 2>&1";
  std::string output;
  ASSERT_EQ(nura::test::RunCommand(cmd, &output), 0) << output;
  EXPECT_FALSE(nura::test::ReadFileBytes(dir / "frame_000003.png").empty());
  EXPECT_THROW(nura::test::ReadFileBytes(dir / "frame_000004.png"), std::runtime_error);
}

// A script that cannot be used would leave a headless run waiting for a close
// that never comes: the program ends at once with 2 and says why in one line.
TEST(PlatformDemo, AnInputScriptThatCannotBeUsedEndsTheProgram) {
  const std::string demo = std::string(NURA_TEST_BINARY_DIR) + "/../../platform/platform_demo";
  nura::test::TempDir dir;
  nura::test::WriteFileText(dir / "bad.txt", "frame 3 move 1 1\nframe 10 wiggle\nframe 20 close\n");
  const struct {
    std::string script;
    std::string line;
  } cases[] = {
      {dir / "missing.txt",
       "platform: cannot read the input script " + (dir / "missing.txt") + " (No such file or directory)\n"},
      {dir.path(), "platform: cannot read the input script " + dir.path() + " (Is a directory)\n"},
      {dir / "bad.txt", "platform: " + (dir / "bad.txt") + ": line 2: unknown event wiggle\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    std::string output;
    const std::string cmd = "timeout 120 env PLATFORM_BACKEND=headless PLATFORM_INPUT_SCRIPT='" + c.script + "' '" +
                            demo + "' --frames 1000 2>&1";
    EXPECT_EQ(nura::test::RunCommand(cmd, &output), 2);
    EXPECT_EQ(output, c.line);
  }
}

// Without a display, only a headless run that was asked for goes ahead: the
// demo asks for nothing, gets no window and ends with the platform's reason.
TEST(PlatformDemo, WithoutADisplayTheWindowIsRefusedUnlessHeadlessIsAsked) {
  const std::string demo = std::string(NURA_TEST_BINARY_DIR) + "/../../platform/platform_demo";
  for (const char* env : {"", "SDL_VIDEODRIVER=dummy"}) {
    SCOPED_TRACE(env);
    std::string output;
    const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u PLATFORM_BACKEND -u SDL_VIDEODRIVER " +
                            std::string(env) + " '" + demo + "' --frames 10 2>&1";
    EXPECT_EQ(nura::test::RunCommand(cmd, &output), 1) << output;
    EXPECT_NE(output.find("platform: no display could be opened"), std::string::npos) << output;
    EXPECT_NE(output.find("PLATFORM_BACKEND=headless"), std::string::npos) << output;
  }
}

}  // namespace
