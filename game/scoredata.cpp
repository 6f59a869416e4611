#include "game/scoredata.h"

#include <cstring>

#include "errtext/hresult_description.h"
#include "errtext/hresult_name.h"
#include "qel/appbase/qelerrorlog.h"
#include "qel/appbase/qelfile.h"

namespace {

std::int32_t ReadLE32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

void WriteLE32(std::uint8_t* p, std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

// Up to three letters of name, zero-padded: byte 3 is always 0, so a stored
// name is always terminated.
void CopyName(char out[4], const char* name) {
  std::memset(out, 0, 4);
  for (int i = 0; i < 3 && name && name[i]; ++i) out[i] = name[i];
}

bool WriteAll(C_File& file, const void* bytes, DWORD n, LONG offset) {
  return file.Write(bytes, n, offset) && file.GetWrittenCount() == n;
}

// A save that failed leaves the records in memory only: the game goes on, and
// the error log says why they will be gone after it ends.
void ReportUnsaved() {
  const DWORD error = GetLastError();
  const char* description = HResultDescriptionA(static_cast<HRESULT>(error));
  const bool described = std::strcmp(description, "n/a") != 0;
  g_ErrorLog.Printf("%s could not be written: %s (%lu)%s%s", C_ScoreData::kFileName,
                    HResultNameA(static_cast<HRESULT>(error)), static_cast<unsigned long>(error), described ? " " : "",
                    described ? description : "");
}

// Opens the score file for writing. A file shorter than a whole table (recreated
// empty, or cut short) first receives the whole table as held in memory, so
// that no slot reads back as zeros and no record read at start-up is lost.
bool OpenForWriting(C_File& file, const std::vector<std::uint8_t>& image) {
  if (!file.Open(C_ScoreData::kFileName, false, OPEN_ALWAYS)) return false;
  DWORD size = file.GetSize(nullptr);
  if (size == INVALID_FILE_SIZE || size < static_cast<DWORD>(C_ScoreData::kFileBytes))
    return WriteAll(file, image.data(), static_cast<DWORD>(image.size()), 0);
  return true;
}

}  // namespace

C_ScoreData::C_ScoreData() {
  SetDefaults();
  C_File file;
  if (!file.Open(kFileName, true, OPEN_ALWAYS)) return;
  DWORD size = file.GetSize(nullptr);
  if (size == INVALID_FILE_SIZE) return;
  if (size != 0) {
    // Only whole slots count; the rest keep their creation values.
    std::uint8_t bytes[kFileBytes] = {};
    DWORD got = file.Read(bytes, kFileBytes, 0) ? file.GetReadCount() : 0;
    for (std::int32_t s = 1; s < kSlots; ++s) {
      const std::uint32_t at = static_cast<std::uint32_t>(s * kSlotBytes);
      if (at + kSlotBytes > got) break;
      std::int32_t time = ReadLE32(bytes + at);
      if (time < 0) continue;  // no time is negative: a damaged slot
      m_aTimes[s] = time;
      std::memcpy(m_aNames[s], bytes + at + 4, 4);
      m_aNames[s][3] = 0;
    }
    for (std::int32_t i = 0; i < 3; ++i)
      m_bFlags[i] = static_cast<DWORD>(5 + i) < got && bytes[5 + i] == static_cast<std::uint8_t>(kDefaultName[i]);
    return;
  }
  // Missing or empty: create it with every slot at its creation value and all
  // flags clear.
  file.Close();
  std::vector<std::uint8_t> image = Image();
  if (!file.Open(kFileName, false, OPEN_ALWAYS) || !WriteAll(file, image.data(), static_cast<DWORD>(image.size()), 0))
    ReportUnsaved();
}

void C_ScoreData::SetDefaults() {
  for (std::int32_t s = 0; s < kSlots; ++s) {
    m_aTimes[s] = kNoRecord;
    CopyName(m_aNames[s], kDefaultName);
  }
}

std::vector<std::uint8_t> C_ScoreData::Image() const {
  std::vector<std::uint8_t> image(kFileBytes);
  for (std::int32_t s = 0; s < kSlots; ++s) {
    std::uint8_t* slot = image.data() + s * kSlotBytes;
    WriteLE32(slot, s == 0 ? kNoRecord : m_aTimes[s]);
    std::memcpy(slot + 4, s == 0 ? kDefaultName : m_aNames[s], 4);
  }
  image[4] = 1;
  for (std::int32_t i = 0; i < 3; ++i) image[5 + i] = m_bFlags[i] ? static_cast<std::uint8_t>(kDefaultName[i]) : 0;
  return image;
}

void C_ScoreData::QueueScore(std::int32_t slot, std::int32_t time) {
  if (slot < 1 || slot >= kSlots) return;
  m_Pending.push_back({slot, time});
}

void C_ScoreData::WriteRecords(const char* name) {
  char stored[4];
  CopyName(stored, name);
  std::vector<std::uint8_t> before = Image();
  for (const PendingRecord& r : m_Pending) {
    m_aTimes[r.slot] = r.time;
    std::memcpy(m_aNames[r.slot], stored, 4);
  }
  C_File file;
  bool saved = OpenForWriting(file, before);
  for (const PendingRecord& r : m_Pending) {
    if (!saved) break;
    std::uint8_t slot[kSlotBytes];
    WriteLE32(slot, r.time);
    std::memcpy(slot + 4, stored, 4);
    saved = WriteAll(file, slot, kSlotBytes, r.slot * kSlotBytes);
  }
  if (!saved) ReportUnsaved();
  m_Pending.clear();
}

void C_ScoreData::SetFlag(std::int32_t i, bool on) {
  if (i < 0 || i >= 3) return;
  std::vector<std::uint8_t> before = Image();
  m_bFlags[i] = on;
  C_File file;
  std::uint8_t b = on ? static_cast<std::uint8_t>(kDefaultName[i]) : 0;
  if (!OpenForWriting(file, before) || !WriteAll(file, &b, 1, 5 + i)) ReportUnsaved();
}

std::int32_t C_ScoreData::GetScore(std::int32_t slot) const {
  return slot >= 0 && slot < kSlots ? m_aTimes[slot] : kNoRecord;
}

const char* C_ScoreData::GetName(std::int32_t slot) const {
  return slot >= 0 && slot < kSlots ? m_aNames[slot] : kDefaultName;
}
