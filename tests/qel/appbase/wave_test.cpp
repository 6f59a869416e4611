// ReadWave against Python's wave module, on files that module wrote and that
// were then reshaped (longer format chunks, extra and odd-sized chunks, cut
// data), on files sox wrote, and on malformed files.
#include <gtest/gtest.h>

#include <memory>

#include "qel/appbase/qelsound.h"
#include "tests/platform/audio_files.h"
#include "tests/support/outside_input.h"

namespace {

using nura::test::Bytes;
using nura::test::MakeWave;
using nura::test::ReadFileBytes;
using nura::test::TempDir;
using nura::test::WriteFileBytes;

struct Wave {
  std::uint32_t bytes = 0;
  std::vector<std::uint8_t> data;
  WAVEFORMATEX format{};
  bool dataNull = true;
};

Wave Read(const std::string& path) {
  Wave w;
  std::uint8_t* raw = reinterpret_cast<std::uint8_t*>(1);
  w.bytes = C_SoundBuffer::ReadWave(path.c_str(), &raw, &w.format);
  std::unique_ptr<std::uint8_t[]> owner(raw);
  w.dataNull = raw == nullptr;
  if (raw) w.data.assign(raw, raw + w.bytes);
  return w;
}

TEST(SoundWave, ReadsTheSamplesThatPythonWaveReads) {
  NURA_REQUIRE_OUTSIDE_INPUT(nura::test::HavePythonWave(), "python3 with wave");
  TempDir dir;
  std::string program = nura::test::kWavePythonPrelude;
  program += R"PY(
write('m16.wav', 1, 2, 22050, 1001, 1)
write('s16.wav', 2, 2, 44100, 500, 2)
write('s8.wav', 2, 1, 11025, 777, 3)
write('m8odd.wav', 1, 1, 8000, 333, 4)     # odd data size, padded

data = open('m16.wav', 'rb').read()
chunks = split(data)
fmt = chunks[0][1]

# An 18-byte format chunk (the extra-size field present).
open('fmt18.wav', 'wb').write(join([[b'fmt ', fmt + b'\0\0'], chunks[1]]))
# A LIST chunk of odd size (with its pad byte) between format and data.
open('list.wav', 'wb').write(join([chunks[0], [b'LIST', b'INFOabc'], chunks[1]]))
# Two odd-sized chunks in a row, and an odd-sized format chunk of 19 bytes.
open('odd.wav', 'wb').write(join([[b'fmt ', fmt + b'\0\0\x07'], [b'junk', b'12345'], [b'fact', b'\x01'], chunks[1]]))
# Data cut short: the header promises more than the file holds (and half a frame).
open('cut.wav', 'wb').write(data[:len(data) - 101])
# An 8-bit stereo file with a chunk after the data.
s8 = split(open('s8.wav', 'rb').read())
open('s8tail.wav', 'wb').write(join([s8[0], s8[1], [b'LIST', b'INFO']]))
)PY";
  bool haveSox = nura::test::HaveTool("sox");
  if (haveSox) {
    program += R"PY(
import subprocess
subprocess.run(['sox', '-n', '-r', '16000', '-c', '1', '-b', '16', 'sox_m16.wav', 'synth', '0.1', 'sine', '440'], check=True, stderr=subprocess.DEVNULL)
subprocess.run(['sox', '-n', '-r', '8000', '-c', '2', '-b', '8', '-e', 'unsigned', 'sox_s8.wav', 'synth', '0.1', 'sine', '300'], check=True, stderr=subprocess.DEVNULL)
)PY";
  }
  program += R"PY(
import glob
for name in sorted(glob.glob('*.wav')):
    dump(name)
)PY";
  std::string output;
  ASSERT_TRUE(nura::test::RunPython(dir.path(), program, &output)) << output;
  auto facts = nura::test::ParseFacts(output);
  ASSERT_EQ(facts.size(), haveSox ? 11u : 9u) << output;

  for (const auto& f : facts) {
    SCOPED_TRACE(f.name);
    Wave w = Read(dir / f.name);
    std::vector<std::uint8_t> expected = ReadFileBytes(dir / (f.name + ".raw"));
    ASSERT_EQ(w.bytes, expected.size());
    EXPECT_EQ(w.data, expected);
    EXPECT_EQ(w.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(w.format.nChannels, f.channels);
    EXPECT_EQ(w.format.wBitsPerSample, f.width * 8);
    EXPECT_EQ(w.format.nSamplesPerSec, f.rate);
    EXPECT_EQ(w.format.nBlockAlign, f.channels * f.width);
    EXPECT_EQ(w.format.cbSize, 0);
  }
}

TEST(SoundWave, RefusesMalformedFiles) {
  TempDir dir;
  const std::vector<std::uint8_t> samples(64, 0x80);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"short-format", MakeWave(1, 1, 8000, 8, samples, 14)});
  cases.push_back({"no-channels", MakeWave(1, 0, 8000, 8, samples, 16, 1)});
  {
    std::vector<std::uint8_t> bad = MakeWave(1, 1, 8000, 8, samples);
    bad[20 + 12] = bad[20 + 13] = 0;  // the block alignment field
    cases.push_back({"no-alignment", bad});
  }
  {
    Bytes b;
    b.Tag("RIFF").U32(100).Tag("WAVE").Tag("LIST").U32(4).Tag("INFO");
    cases.push_back({"list-first", b.data()});
  }
  {
    std::vector<std::uint8_t> noData = MakeWave(1, 1, 8000, 8, samples);
    noData.resize(noData.size() - samples.size() - 8);
    cases.push_back({"no-data", noData});
  }
  {
    std::vector<std::uint8_t> bad = MakeWave(1, 1, 8000, 8, samples);
    bad[0] = 'X';
    cases.push_back({"not-riff", bad});
  }
  {
    std::vector<std::uint8_t> bad = MakeWave(1, 1, 8000, 8, samples);
    bad[8] = 'X';
    cases.push_back({"not-wave", bad});
  }
  {
    // A chunk before the data whose size runs past the end of the file.
    Bytes b;
    b.Tag("RIFF").U32(0).Tag("WAVE").Tag("fmt ").U32(16).U16(1).U16(1).U32(8000).U32(8000).U16(1).U16(8);
    b.Tag("junk").U32(0xFFFFFFF0u).Tag("data").U32(4).U32(0);
    cases.push_back({"huge-chunk", b.data()});
  }
  {
    // A format chunk that claims more bytes than the file holds.
    Bytes b;
    b.Tag("RIFF").U32(0).Tag("WAVE").Tag("fmt ").U32(1000).U16(1).U16(1).U32(8000).U32(8000).U16(1).U16(8);
    cases.push_back({"huge-format", b.data()});
  }
  {
    // Data that holds less than one block.
    Bytes b;
    b.Tag("RIFF").U32(0).Tag("WAVE").Tag("fmt ").U32(16).U16(1).U16(2).U32(8000).U32(32000).U16(4).U16(16);
    b.Tag("data").U32(100).U16(7);
    cases.push_back({"partial-block", b.data()});
  }
  cases.push_back({"empty", {}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(dir / c.name, c.bytes);
    Wave w = Read(dir / c.name);
    EXPECT_EQ(w.bytes, 0u);
    EXPECT_TRUE(w.dataNull);
  }
  Wave missing = Read(dir / "missing.wav");
  EXPECT_EQ(missing.bytes, 0u);
  EXPECT_TRUE(missing.dataNull);
}

TEST(SoundWave, HugeDataSizeIsCutToTheBytesPresent) {
  TempDir dir;
  std::vector<std::uint8_t> samples;
  for (int i = 0; i < 100; ++i) samples.push_back(static_cast<std::uint8_t>(i));
  std::vector<std::uint8_t> file = MakeWave(1, 1, 8000, 8, samples);
  // The data size is the last field before the samples.
  std::size_t sizeAt = file.size() - samples.size() - 4;
  file[sizeAt] = file[sizeAt + 1] = file[sizeAt + 2] = file[sizeAt + 3] = 0xFF;
  WriteFileBytes(dir / "huge.wav", file);
  Wave w = Read(dir / "huge.wav");
  EXPECT_EQ(w.bytes, 100u);
  EXPECT_EQ(w.data, samples);
}

TEST(SoundWave, ExtraSizeIsKeptOnlyWhenPresentAndNotPcm) {
  TempDir dir;
  std::vector<std::uint8_t> samples(32, 1);
  std::vector<std::uint8_t> file = MakeWave(2, 1, 8000, 4, samples, 20, 4);
  // The extra-size field (bytes 16 and 17 of the format) says 2.
  file[20 + 16] = 2;
  WriteFileBytes(dir / "adpcm.wav", file);
  Wave w = Read(dir / "adpcm.wav");
  EXPECT_EQ(w.bytes, 32u);
  EXPECT_EQ(w.format.wFormatTag, 2);
  EXPECT_EQ(w.format.cbSize, 2);

  file = MakeWave(2, 1, 8000, 4, samples, 16, 4);
  WriteFileBytes(dir / "adpcm16.wav", file);
  w = Read(dir / "adpcm16.wav");
  EXPECT_EQ(w.bytes, 32u);
  EXPECT_EQ(w.format.cbSize, 0);
}

TEST(SoundWave, LongFileNamesAreRead) {
  TempDir dir;
  // Each name within the file system's limit, the path well beyond 256 bytes.
  std::string folder = dir.path() + "/" + std::string(200, 'f');
  ASSERT_EQ(nura::test::RunCommand("mkdir -p '" + folder + "'"), 0);
  std::string path = folder + "/" + std::string(120, 'w') + ".wav";
  ASSERT_GT(path.size(), 256u);
  std::vector<std::uint8_t> samples(40, 0x42);
  WriteFileBytes(path, MakeWave(1, 1, 8000, 8, samples));
  Wave w = Read(path);
  EXPECT_EQ(w.bytes, 40u);
  EXPECT_EQ(w.data, samples);
}

}  // namespace
