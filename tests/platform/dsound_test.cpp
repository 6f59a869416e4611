// The DirectSound stand-in: device start-up, buffer formats, locking, the
// software mixer against an independent resampler, and timing on the fake clock.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/com.h"
#include "platform/dsound_api.h"
#include "platform/mm_timer.h"
#include "platform/testing.h"

namespace {

using platform::test::AudioEventKind;

class SoundDevice : public testing::Test {
 protected:
  void SetUp() override {
    platform::test::UseFakeClock();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                               IID_IDirectSound8, reinterpret_cast<void**>(&m_ds)),
              S_OK);
    ASSERT_EQ(m_ds->Initialize(nullptr), DS_OK);
    ASSERT_EQ(m_ds->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
  }
  void TearDown() override {
    if (m_ds) {
      EXPECT_EQ(m_ds->Release(), 0u);
    }
    CoUninitialize();
  }

  // A secondary buffer holding the bytes; null on failure (with hr).
  IDirectSoundBuffer8* MakeBuffer(const WAVEFORMATEX& format, const std::vector<std::uint8_t>& bytes,
                                  HRESULT* hr = nullptr) {
    WAVEFORMATEX f = format;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_LOCSOFTWARE;
    desc.dwBufferBytes = static_cast<DWORD>(bytes.size());
    desc.lpwfxFormat = &f;
    IDirectSoundBuffer* first = nullptr;
    HRESULT r = m_ds->CreateSoundBuffer(&desc, &first, nullptr);
    if (hr) *hr = r;
    if (FAILED(r)) {
      EXPECT_EQ(first, nullptr);
      return nullptr;
    }
    IDirectSoundBuffer8* buffer = nullptr;
    EXPECT_EQ(first->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(&buffer)), S_OK);
    EXPECT_EQ(first->Release(), 1u);
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    EXPECT_EQ(buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(n1, bytes.size());
    EXPECT_EQ(n2, 0u);
    std::memcpy(p1, bytes.data(), n1);
    EXPECT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    return buffer;
  }

  static DWORD Status(IDirectSoundBuffer8* b) {
    DWORD s = 0xFFFF;
    EXPECT_EQ(b->GetStatus(&s), DS_OK);
    return s;
  }

  IDirectSound8* m_ds = nullptr;
};

WAVEFORMATEX Pcm(unsigned channels, unsigned rate, unsigned bits) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = static_cast<WORD>(channels);
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = static_cast<WORD>(bits);
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// The expected output of one voice, computed independently in floating point:
// output frame k samples the source at k * rate / 44100 by linear
// interpolation, the last frame holding its value.
std::vector<double> Resample(const std::vector<std::uint8_t>& bytes, const WAVEFORMATEX& f, int side,
                             std::size_t outFrames) {
  std::size_t frames = bytes.size() / f.nBlockAlign;
  auto sample = [&](std::size_t i) -> double {
    std::size_t ch = f.nChannels == 2 ? static_cast<std::size_t>(side) : 0;
    const std::uint8_t* p = &bytes[i * f.nBlockAlign];
    if (f.wBitsPerSample == 8) return (p[ch] - 128.0) * 256.0;
    return static_cast<std::int16_t>(p[2 * ch] | (p[2 * ch + 1] << 8));
  };
  std::vector<double> out;
  for (std::size_t k = 0; k < outFrames; ++k) {
    double t = static_cast<double>(k) * f.nSamplesPerSec / 44100.0;
    std::size_t i = static_cast<std::size_t>(t);
    if (i >= frames) break;
    double frac = t - i;
    double a = sample(i), b = i + 1 < frames ? sample(i + 1) : a;
    out.push_back(a + (b - a) * frac);
  }
  return out;
}

TEST_F(SoundDevice, CreatesThePrimaryBufferWithoutAFormat) {
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* primary = nullptr;
  ASSERT_EQ(m_ds->CreateSoundBuffer(&desc, &primary, nullptr), DS_OK);
  IDirectSoundBuffer8* eight = reinterpret_cast<IDirectSoundBuffer8*>(1);
  EXPECT_EQ(primary->QueryInterface(IID_IDirectSoundBuffer8, reinterpret_cast<void**>(&eight)), E_NOINTERFACE);
  EXPECT_EQ(eight, nullptr);
  EXPECT_EQ(primary->Release(), 0u);

  desc.dwSize = sizeof desc - 1;
  EXPECT_EQ(m_ds->CreateSoundBuffer(&desc, &primary, nullptr), DSERR_INVALIDPARAM);
}

TEST_F(SoundDevice, InitialisesOnceAndNotBeforeUse) {
  EXPECT_EQ(m_ds->Initialize(nullptr), DSERR_ALREADYINITIALIZED);
  IDirectSound8* fresh = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8,
                             reinterpret_cast<void**>(&fresh)),
            S_OK);
  EXPECT_EQ(fresh->SetCooperativeLevel(nullptr, DSSCL_NORMAL), DSERR_UNINITIALIZED);
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof desc;
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* b = nullptr;
  EXPECT_EQ(fresh->CreateSoundBuffer(&desc, &b, nullptr), DSERR_UNINITIALIZED);
  EXPECT_EQ(fresh->Release(), 0u);
}

TEST_F(SoundDevice, RefusesFormatsTheMixerCannotPlay) {
  const std::vector<std::uint8_t> bytes(400, 0);
  struct Case {
    const char* what;
    WAVEFORMATEX format;
    HRESULT expected;
  };
  WAVEFORMATEX tag = Pcm(1, 22050, 16);
  tag.wFormatTag = 3;
  WAVEFORMATEX noChannels = Pcm(1, 22050, 16);
  noChannels.nChannels = 0;
  WAVEFORMATEX noAlign = Pcm(2, 22050, 16);
  noAlign.nBlockAlign = 0;
  WAVEFORMATEX badAlign = Pcm(2, 22050, 16);
  badAlign.nBlockAlign = 2;
  const Case cases[] = {
      {"float tag", tag, DSERR_BADFORMAT},
      {"zero channels", noChannels, DSERR_BADFORMAT},
      {"three channels", Pcm(3, 22050, 16), DSERR_BADFORMAT},
      {"24 bits", Pcm(1, 22050, 24), DSERR_BADFORMAT},
      {"zero alignment", noAlign, DSERR_BADFORMAT},
      {"wrong alignment", badAlign, DSERR_BADFORMAT},
      {"rate too low", Pcm(1, 99, 16), DSERR_BADFORMAT},
      {"rate too high", Pcm(1, 200001, 16), DSERR_BADFORMAT},
  };
  for (const Case& c : cases) {
    HRESULT hr = S_OK;
    EXPECT_EQ(MakeBuffer(c.format, bytes, &hr), nullptr) << c.what;
    EXPECT_EQ(hr, c.expected) << c.what;
  }
  HRESULT hr = S_OK;
  EXPECT_EQ(MakeBuffer(Pcm(1, 22050, 8), std::vector<std::uint8_t>(3), &hr), nullptr);
  EXPECT_EQ(hr, DSERR_INVALIDPARAM);
  // The limits themselves are accepted.
  for (WAVEFORMATEX f : {Pcm(1, 100, 8), Pcm(2, 200000, 16)}) {
    IDirectSoundBuffer8* b = MakeBuffer(f, bytes);
    ASSERT_NE(b, nullptr);
    b->Release();
  }
}

TEST_F(SoundDevice, MixesEveryFormatLikeAnIndependentResampler) {
  for (unsigned bits : {8u, 16u}) {
    for (unsigned channels : {1u, 2u}) {
      for (unsigned rate : {8000u, 11025u, 22050u, 44100u, 48000u}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " channels, " << rate << " Hz");
        WAVEFORMATEX f = Pcm(channels, rate, bits);
        std::vector<std::uint8_t> bytes = RandomBytes(f.nBlockAlign * (rate / 20 + 3), bits + channels + rate);
        IDirectSoundBuffer8* b = MakeBuffer(f, bytes);
        ASSERT_NE(b, nullptr);
        platform::test::StartMixCapture();
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        platform::test::PullAudio(44100 / 10);
        std::vector<std::int16_t> mix = platform::test::MixCapture();
        platform::test::StopMixCapture();
        for (int side = 0; side < 2; ++side) {
          std::vector<double> expected = Resample(bytes, f, side, 44100 / 10);
          ASSERT_GT(expected.size(), 44100u / 20);
          for (std::size_t k = 0; k < expected.size(); ++k)
            ASSERT_NEAR(mix[2 * k + side], expected[k], 1.5) << "frame " << k << " side " << side;
          // Silence once the sound has ended.
          for (std::size_t k = expected.size(); k < 44100 / 10; ++k) ASSERT_EQ(mix[2 * k + side], 0) << k;
        }
        EXPECT_EQ(Status(b), 0u);
        b->Release();
      }
    }
  }
}

TEST_F(SoundDevice, StatusDropsExactlyAfterTheDuration) {
  // 100 ms at two rates: 4,410 frames at 44,100 Hz and 2,205 at 22,050 Hz.
  for (unsigned rate : {44100u, 22050u}) {
    WAVEFORMATEX f = Pcm(1, rate, 16);
    IDirectSoundBuffer8* b = MakeBuffer(f, std::vector<std::uint8_t>(rate / 10 * 2, 0x11));
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(Status(b), DSBSTATUS_PLAYING);
    platform::test::AdvanceClock(99);
    EXPECT_EQ(Status(b), DSBSTATUS_PLAYING) << rate;
    platform::test::AdvanceClock(1);
    EXPECT_EQ(Status(b), 0u) << rate;
    // It has rewound to the start.
    DWORD play = 1, write = 1;
    EXPECT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 0u);
    b->Release();
  }
  auto ends = platform::test::AudioEventsOf(AudioEventKind::BufferEnd);
  ASSERT_EQ(ends.size(), 2u);
}

TEST_F(SoundDevice, StopKeepsThePositionAndPlayResumes) {
  WAVEFORMATEX f = Pcm(1, 44100, 16);
  IDirectSoundBuffer8* b = MakeBuffer(f, std::vector<std::uint8_t>(44100 * 2, 0));
  ASSERT_NE(b, nullptr);
  b->Play(0, 0, 0);
  platform::test::PullAudio(1000);
  EXPECT_EQ(b->Stop(), DS_OK);
  platform::test::PullAudio(1000);
  DWORD play = 0;
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 2000u);
  b->Play(0, 0, 0);
  platform::test::PullAudio(500);
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 3000u);
  EXPECT_EQ(b->SetCurrentPosition(100), DS_OK);
  b->GetCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 100u);
  EXPECT_EQ(b->SetCurrentPosition(44100 * 2), DSERR_INVALIDPARAM);
  b->Release();
}

TEST_F(SoundDevice, LoopingWrapsAroundTheBuffer) {
  WAVEFORMATEX f = Pcm(1, 44100, 16);
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 100; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(i * 100));
    bytes.push_back(static_cast<std::uint8_t>((i * 100) >> 8));
  }
  IDirectSoundBuffer8* b = MakeBuffer(f, bytes);
  ASSERT_NE(b, nullptr);
  platform::test::StartMixCapture();
  b->Play(0, 0, DSBPLAY_LOOPING);
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  platform::test::PullAudio(350);
  auto mix = platform::test::MixCapture();
  for (int k = 0; k < 350; ++k) ASSERT_EQ(mix[2 * k], (k % 100) * 100) << k;
  EXPECT_EQ(Status(b), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  b->Release();
}

TEST_F(SoundDevice, VoicesAreSummedAndSaturated) {
  WAVEFORMATEX f = Pcm(1, 44100, 16);
  std::vector<std::uint8_t> loud, quiet;
  for (int i = 0; i < 64; ++i) {
    loud.insert(loud.end(), {0x00, 0x60});    // 24576
    quiet.insert(quiet.end(), {0x00, 0xA0});  // -24576
  }
  IDirectSoundBuffer8* a = MakeBuffer(f, loud);
  IDirectSoundBuffer8* b = MakeBuffer(f, loud);
  IDirectSoundBuffer8* c = MakeBuffer(f, quiet);
  platform::test::StartMixCapture();
  a->Play(0, 0, 0);
  b->Play(0, 0, 0);
  platform::test::PullAudio(10);
  c->Play(0, 0, 0);
  platform::test::PullAudio(10);
  auto mix = platform::test::MixCapture();
  EXPECT_EQ(mix[0], 32767);
  EXPECT_EQ(mix[1], 32767);
  EXPECT_EQ(mix[2 * 15], 24576);  // 24576 * 2 - 24576
  for (auto* x : {a, b, c}) x->Release();
}

TEST_F(SoundDevice, LockHandsOutTwoRegionsAcrossTheEnd) {
  WAVEFORMATEX f = Pcm(1, 22050, 8);
  IDirectSoundBuffer8* b = MakeBuffer(f, std::vector<std::uint8_t>(100, 0x80));
  void *p1 = nullptr, *p2 = nullptr;
  DWORD n1 = 0, n2 = 0;
  ASSERT_EQ(b->Lock(90, 20, &p1, &n1, &p2, &n2, 0), DS_OK);
  EXPECT_EQ(n1, 10u);
  EXPECT_EQ(n2, 10u);
  std::memset(p1, 0x81, n1);
  std::memset(p2, 0x82, n2);
  // Pointers that Lock did not hand out are refused; the lock stays.
  std::uint8_t other[10];
  EXPECT_EQ(b->Unlock(other, 10, nullptr, 0), DSERR_INVALIDPARAM);
  ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
  EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DSERR_INVALIDCALL);

  EXPECT_EQ(b->Lock(100, 1, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(b->Lock(0, 101, &p1, &n1, &p2, &n2, 0), DSERR_INVALIDPARAM);

  ASSERT_EQ(b->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER), DS_OK);
  auto* data = static_cast<std::uint8_t*>(p1);
  EXPECT_EQ(data[0], 0x82);
  EXPECT_EQ(data[9], 0x82);
  EXPECT_EQ(data[10], 0x80);
  EXPECT_EQ(data[90], 0x81);
  EXPECT_EQ(data[99], 0x81);
  b->Unlock(p1, n1, p2, n2);
  b->Release();
}

TEST_F(SoundDevice, RecordsWhatHappenedWhen) {
  WAVEFORMATEX f = Pcm(2, 11025, 8);
  std::vector<std::uint8_t> bytes = RandomBytes(2 * 1103, 7);  // 1,103 frames: just over 100 ms
  platform::test::ClearAudioEvents();
  DWORD start = timeGetTime();
  IDirectSoundBuffer8* b = MakeBuffer(f, bytes);
  b->Play(0, 0, 0);
  platform::test::AdvanceClock(50);
  b->Stop();
  b->Play(0, 0, 0);
  platform::test::AdvanceClock(200);
  b->Release();

  auto events = platform::test::AudioEvents();
  std::vector<AudioEventKind> kinds;
  for (auto& e : events) kinds.push_back(e.kind);
  EXPECT_EQ(kinds, (std::vector<AudioEventKind>{AudioEventKind::BufferCreate, AudioEventKind::BufferPlay,
                                               AudioEventKind::BufferStop, AudioEventKind::BufferPlay,
                                               AudioEventKind::BufferEnd, AudioEventKind::BufferRelease}));
  ASSERT_EQ(events.size(), 6u);
  const std::uint32_t crc = platform::test::AudioCrc32(bytes.data(), bytes.size());
  EXPECT_EQ(events[0].crc, crc);
  EXPECT_EQ(events[0].bytes, bytes.size());
  EXPECT_EQ(events[0].format.nChannels, 2);
  EXPECT_EQ(events[0].format.nSamplesPerSec, 11025u);
  EXPECT_EQ(events[1].crc, crc);
  EXPECT_EQ(events[1].timeMs, start);
  EXPECT_EQ(events[2].timeMs, start + 50);
  EXPECT_EQ(events[5].timeMs, start + 250);
  for (auto& e : events) EXPECT_EQ(e.id, events[0].id);
}

TEST_F(SoundDevice, ReleaseStopsAndRemovesTheVoice) {
  std::size_t before = platform::test::AudioVoiceCount();
  IDirectSoundBuffer8* b = MakeBuffer(Pcm(1, 44100, 16), std::vector<std::uint8_t>(1000, 0));
  EXPECT_EQ(platform::test::AudioVoiceCount(), before + 1);
  b->Play(0, 0, DSBPLAY_LOOPING);
  EXPECT_EQ(b->AddRef(), 2u);
  EXPECT_EQ(b->Release(), 1u);
  EXPECT_EQ(b->Release(), 0u);
  EXPECT_EQ(platform::test::AudioVoiceCount(), before);
  EXPECT_EQ(platform::test::AudioEventsOf(AudioEventKind::BufferStop).size(), 1u);
}

TEST(SoundCrc, MatchesTheZipChecksum) {
  const char* text = "123456789";
  EXPECT_EQ(platform::test::AudioCrc32(text, 9), 0xCBF43926u);
  EXPECT_EQ(platform::test::AudioCrc32(text, 0), 0u);
}

}  // namespace
