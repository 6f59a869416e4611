// Sound files made at test time by other tools (Python's wave module, sox,
// lame) for the audio tests, and a little-endian byte builder for the
// malformed ones.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

namespace nura::test {

constexpr const char* kPython = "/usr/bin/python3";

// Runs a Python program in dir; true when it exits with 0 (else a test failure
// with its standard error).
inline bool RunPython(const std::string& dir, const std::string& program, std::string* output = nullptr) {
  WriteFileText(dir + "/gen.py", program);
  return RunTool("cd '" + dir + "' && " + kPython + " gen.py", output);
}

inline bool HavePythonWave() {
  return RunCommand(std::string(kPython) + " -c 'import wave' >/dev/null 2>&1") == 0;
}

// Python helpers the generators share: write a WAVE file with the wave module
// from seeded random bytes, split a RIFF file into chunks and join them again
// (pad bytes after odd sizes), and dump what wave reads as whole frames.
inline const char* kWavePythonPrelude = R"PY(
import random, struct, wave

def write(name, channels, width, rate, frames, seed):
    rnd = random.Random(seed)
    with wave.open(name, 'wb') as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(bytes(rnd.getrandbits(8) for _ in range(frames * channels * width)))

def split(data):
    assert data[:4] == b'RIFF' and data[8:12] == b'WAVE'
    out, at = [], 12
    while at + 8 <= len(data):
        cid, size = data[at:at + 4], struct.unpack('<I', data[at + 4:at + 8])[0]
        out.append([cid, data[at + 8:at + 8 + size]])
        at += 8 + size + (size & 1)
    return out

def join(chunks, data_size=None):
    body = b'WAVE'
    for cid, payload in chunks:
        size = len(payload) if (cid != b'data' or data_size is None) else data_size
        body += cid + struct.pack('<I', size) + payload + (b'\0' if len(payload) & 1 else b'')
    return b'RIFF' + struct.pack('<I', len(body)) + body

def dump(name):
    # The samples wave reads, cut to whole frames, and the format line.
    with wave.open(name, 'rb') as w:
        raw = w.readframes(w.getnframes())
        frame = w.getnchannels() * w.getsampwidth()
        raw = raw[:len(raw) // frame * frame]
        open(name + '.raw', 'wb').write(raw)
        print(name, w.getnchannels(), w.getsampwidth(), w.getframerate(), len(raw))
)PY";

// One line of dump(): the file and the format wave read.
struct WaveFacts {
  std::string name;
  unsigned channels = 0;
  unsigned width = 0;
  unsigned rate = 0;
  std::size_t bytes = 0;
};

inline std::vector<WaveFacts> ParseFacts(const std::string& output) {
  std::vector<WaveFacts> facts;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    WaveFacts f;
    if (in >> f.name >> f.channels >> f.width >> f.rate >> f.bytes && f.name.ends_with(".wav")) facts.push_back(f);
  }
  return facts;
}

// Little-endian byte builder.
class Bytes {
 public:
  Bytes& Tag(const char* four) {
    m_data.insert(m_data.end(), four, four + 4);
    return *this;
  }
  Bytes& U16(std::uint32_t v) {
    m_data.push_back(static_cast<std::uint8_t>(v));
    m_data.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& Raw(const std::vector<std::uint8_t>& b) {
    m_data.insert(m_data.end(), b.begin(), b.end());
    return *this;
  }
  const std::vector<std::uint8_t>& data() const { return m_data; }

 private:
  std::vector<std::uint8_t> m_data;
};

// A WAVE file with a format chunk of fmtBytes bytes (16 or more give the PCM
// header, padded with zeros) and a data chunk.
inline std::vector<std::uint8_t> MakeWave(unsigned tag, unsigned channels, unsigned rate, unsigned bits,
                                          const std::vector<std::uint8_t>& samples, unsigned fmtBytes = 16,
                                          unsigned blockAlign = 0) {
  if (blockAlign == 0) blockAlign = channels * bits / 8;
  Bytes fmt;
  fmt.U16(tag).U16(channels).U32(rate).U32(rate * blockAlign).U16(blockAlign).U16(bits);
  std::vector<std::uint8_t> header = fmt.data();
  header.resize(fmtBytes, 0);
  Bytes body;
  body.Tag("WAVE").Tag("fmt ").U32(fmtBytes).Raw(header);
  if (fmtBytes & 1) body.Raw({0});
  body.Tag("data").U32(static_cast<std::uint32_t>(samples.size())).Raw(samples);
  Bytes file;
  file.Tag("RIFF").U32(static_cast<std::uint32_t>(body.data().size())).Raw(body.data());
  return file.data();
}

}  // namespace nura::test
