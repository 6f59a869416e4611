#include "dsound/sound_buffer.h"

#include <cstring>

namespace platform::audio {
namespace {

// GetFormat's answer: as much of the format as fits, which must be at least
// all but its extra-size field; the full size in *written.
HRESULT CopyFormat(const WAVEFORMATEX& f, LPWAVEFORMATEX format, DWORD size, LPDWORD written) {
  if (format) {
    if (size < sizeof f - sizeof f.cbSize) return DSERR_INVALIDPARAM;
    std::memcpy(format, &f, size < sizeof f ? size : sizeof f);
  }
  if (written) *written = sizeof f;
  return DS_OK;
}

}  // namespace

HRESULT CheckSecondaryDesc(const DSBUFFERDESC& desc) {
  if (desc.dwBufferBytes < DSBSIZE_MIN || desc.dwBufferBytes > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
  const WAVEFORMATEX* f = desc.lpwfxFormat;
  if (!f) return DSERR_INVALIDPARAM;
  if (f->wFormatTag != WAVE_FORMAT_PCM) return DSERR_BADFORMAT;
  if (f->nChannels < 1 || f->nChannels > 2) return DSERR_BADFORMAT;
  if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return DSERR_BADFORMAT;
  if (f->nSamplesPerSec < DSBFREQUENCY_MIN || f->nSamplesPerSec > DSBFREQUENCY_MAX) return DSERR_BADFORMAT;
  if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return DSERR_BADFORMAT;
  return DS_OK;
}

// --- Primary buffer ----------------------------------------------------------

HRESULT PrimaryBuffer::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDirectSoundBuffer) {
    *out = static_cast<IDirectSoundBuffer*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG PrimaryBuffer::Release() {
  ULONG left = --m_refs;
  if (left == 0) delete this;
  return left;
}

HRESULT PrimaryBuffer::GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) {
  if (playCursor) *playCursor = 0;
  if (writeCursor) *writeCursor = 0;
  return DS_OK;
}

HRESULT PrimaryBuffer::GetFormat(LPWAVEFORMATEX format, DWORD size, LPDWORD written) {
  return CopyFormat(WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0}, format, size, written);
}

HRESULT PrimaryBuffer::GetStatus(LPDWORD status) {
  if (!status) return DSERR_INVALIDPARAM;
  *status = m_playing ? (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING) : 0;
  return DS_OK;
}

HRESULT PrimaryBuffer::Play(DWORD reserved1, DWORD priority, DWORD flags) {
  if (reserved1 != 0 || priority != 0 || !(flags & DSBPLAY_LOOPING)) return DSERR_INVALIDPARAM;
  m_playing = true;
  return DS_OK;
}

HRESULT PrimaryBuffer::Stop() {
  m_playing = false;
  return DS_OK;
}

// --- Secondary buffers -------------------------------------------------------

SecondaryBuffer::SecondaryBuffer(const DSBUFFERDESC& desc)
    : m_id(NextBufferId()),
      m_format(*desc.lpwfxFormat),
      m_layout{m_format.nChannels, m_format.wBitsPerSample, m_format.nBlockAlign},
      m_frames(desc.dwBufferBytes / m_format.nBlockAlign),
      m_data(desc.dwBufferBytes, m_format.wBitsPerSample == 8 ? 0x80 : 0),
      m_step(StepFor(m_format.nSamplesPerSec)) {
  m_format.cbSize = 0;
  test::AudioEvent e = MakeEvent(test::AudioEventKind::BufferCreate, m_id);
  e.format = m_format;
  e.bytes = desc.dwBufferBytes;
  e.crc = DataCrc();
  Record(std::move(e));
  Mixer::Get().Add(this);
}

SecondaryBuffer::~SecondaryBuffer() { Mixer::Get().Remove(this); }

HRESULT SecondaryBuffer::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDirectSoundBuffer || iid == IID_IDirectSoundBuffer8) {
    *out = static_cast<IDirectSoundBuffer8*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG SecondaryBuffer::Release() {
  ULONG left = --m_refs;
  if (left == 0) {
    Stop();
    Record(MakeEvent(test::AudioEventKind::BufferRelease, m_id));
    delete this;
  }
  return left;
}

std::uint32_t SecondaryBuffer::DataCrc() const { return test::AudioCrc32(m_data.data(), m_data.size()); }

HRESULT SecondaryBuffer::GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) {
  std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
  DWORD bytes = static_cast<DWORD>((m_pos >> 32) * m_layout.blockAlign);
  if (playCursor) *playCursor = bytes;
  if (writeCursor) *writeCursor = bytes;
  return DS_OK;
}

HRESULT SecondaryBuffer::GetFormat(LPWAVEFORMATEX format, DWORD size, LPDWORD written) {
  return CopyFormat(m_format, format, size, written);
}

HRESULT SecondaryBuffer::GetStatus(LPDWORD status) {
  if (!status) return DSERR_INVALIDPARAM;
  std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
  *status = m_playing ? (DSBSTATUS_PLAYING | (m_looping ? DSBSTATUS_LOOPING : 0)) : 0;
  return DS_OK;
}

HRESULT SecondaryBuffer::Lock(DWORD offset, DWORD bytes, LPVOID* ptr1, LPDWORD bytes1, LPVOID* ptr2,
                              LPDWORD bytes2, DWORD flags) {
  if (!ptr1 || !bytes1) return DSERR_INVALIDPARAM;
  const DWORD size = static_cast<DWORD>(m_data.size());
  if (flags & DSBLOCK_ENTIREBUFFER) {
    offset = 0;
    bytes = size;
  } else if (flags & DSBLOCK_FROMWRITECURSOR) {
    DWORD write = 0;
    GetCurrentPosition(nullptr, &write);
    offset = write;
  }
  if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
  if (m_isLocked) return DSERR_INVALIDCALL;
  DWORD first = bytes <= size - offset ? bytes : size - offset;
  DWORD second = bytes - first;
  if (second != 0 && (!ptr2 || !bytes2)) return DSERR_INVALIDPARAM;
  {
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    m_locked = m_data;
  }
  m_isLocked = true;
  *ptr1 = m_locked.data() + offset;
  *bytes1 = first;
  if (ptr2) *ptr2 = second ? m_locked.data() : nullptr;
  if (bytes2) *bytes2 = second;
  return DS_OK;
}

HRESULT SecondaryBuffer::Unlock(LPVOID ptr1, DWORD bytes1, LPVOID ptr2, DWORD bytes2) {
  if (!m_isLocked) return DSERR_INVALIDCALL;
  auto inside = [&](LPVOID p, DWORD n) {
    auto* b = static_cast<std::uint8_t*>(p);
    return b >= m_locked.data() && n <= m_locked.size() &&
           static_cast<std::size_t>(b - m_locked.data()) <= m_locked.size() - n;
  };
  if (!ptr1 || !inside(ptr1, bytes1) || (ptr2 && !inside(ptr2, bytes2)) || (!ptr2 && bytes2 != 0))
    return DSERR_INVALIDPARAM;
  {
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    m_data.swap(m_locked);
  }
  m_locked.clear();
  m_locked.shrink_to_fit();
  m_isLocked = false;
  // Keep the creation record's checksum current: it names the sound the buffer holds.
  UpdateCreateCrc(m_id, DataCrc());
  return DS_OK;
}

HRESULT SecondaryBuffer::Play(DWORD reserved1, DWORD priority, DWORD flags) {
  if (reserved1 != 0 || priority != 0) return DSERR_INVALIDPARAM;
  test::AudioEvent e = MakeEvent(test::AudioEventKind::BufferPlay, m_id);
  e.crc = DataCrc();  // the data changes only on this thread, in Unlock
  e.looping = (flags & DSBPLAY_LOOPING) != 0;
  {
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    m_playing = true;
    m_looping = e.looping;
  }
  Record(std::move(e));
  return DS_OK;
}

HRESULT SecondaryBuffer::SetCurrentPosition(DWORD position) {
  if (position >= m_data.size()) return DSERR_INVALIDPARAM;
  std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
  m_pos = static_cast<std::uint64_t>(position / m_layout.blockAlign) << 32;
  return DS_OK;
}

HRESULT SecondaryBuffer::Stop() {
  bool was;
  {
    std::lock_guard<std::mutex> hold(Mixer::Get().Lock());
    was = m_playing;
    m_playing = false;
  }
  if (was) Record(MakeEvent(test::AudioEventKind::BufferStop, m_id));
  return DS_OK;
}

void SecondaryBuffer::Render(std::int32_t* acc, std::size_t frames) {
  if (!m_playing || m_frames == 0) return;
  const std::uint8_t* data = m_data.data();
  const std::uint64_t end = static_cast<std::uint64_t>(m_frames) << 32;
  for (std::size_t k = 0; k < frames; ++k) {
    if (m_pos >= end) {
      if (m_looping) {
        m_pos %= end;
      } else {
        // A one-shot buffer stops at its end and rewinds.
        m_playing = false;
        m_pos = 0;
        Record(MakeEvent(test::AudioEventKind::BufferEnd, m_id));
        return;
      }
    }
    std::size_t i = static_cast<std::size_t>(m_pos >> 32);
    std::uint32_t frac = static_cast<std::uint32_t>(m_pos);
    int l0, r0, l1, r1;
    ReadFrame(data, m_layout, i, &l0, &r0);
    if (i + 1 < m_frames) {
      ReadFrame(data, m_layout, i + 1, &l1, &r1);
    } else if (m_looping) {
      ReadFrame(data, m_layout, 0, &l1, &r1);
    } else {
      l1 = l0;
      r1 = r0;
    }
    acc[2 * k] += Lerp(l0, l1, frac);
    acc[2 * k + 1] += Lerp(r0, r1, frac);
    m_pos += m_step;
  }
  // Report the end as soon as the last frame has been mixed.
  if (!m_looping && m_pos >= end) {
    m_playing = false;
    m_pos = 0;
    Record(MakeEvent(test::AudioEventKind::BufferEnd, m_id));
  }
}

}  // namespace platform::audio
