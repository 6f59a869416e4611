#include "game/scoredata.h"

#include <algorithm>
#include <cstring>

#include "game/gamemessage.h"
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

std::string Named(const char* text) { return std::string(C_ScoreData::kFileName) + text; }

// Opens the score file for writing. A file shorter than a whole table (emptied
// or removed while the game runs) first receives the whole table as held in
// memory, so that no slot reads back as zeros.
bool OpenForWriting(C_File& file, const std::vector<std::uint8_t>& image) {
  if (!file.Open(C_ScoreData::kFileName, false, OPEN_ALWAYS)) return false;
  DWORD size = file.GetSize(nullptr);
  if (size == INVALID_FILE_SIZE || size < static_cast<DWORD>(C_ScoreData::kFileBytes))
    return WriteAll(file, image.data(), static_cast<DWORD>(image.size()), 0);
  return true;
}

// What the game itself writes: the header (3000000, then 1), and per slot a
// time of 0 or more with a name of printable letters ended within its four
// bytes. The flag bytes are read leniently: any other value is a clear flag.
// The first slot that breaks the rule, or -1.
int FirstDamagedSlot(const std::uint8_t* bytes) {
  if (ReadLE32(bytes) != C_ScoreData::kNoRecord || bytes[4] != 1) return 0;
  for (std::int32_t s = 1; s < C_ScoreData::kSlots; ++s) {
    const std::uint8_t* slot = bytes + s * C_ScoreData::kSlotBytes;
    if (ReadLE32(slot) < 0) return s;
    int end = 0;
    while (end < 4 && slot[4 + end] >= 0x20 && slot[4 + end] < 0x7F) ++end;
    if (end == 4 || slot[4 + end] != 0) return s;
  }
  return -1;
}

}  // namespace

C_ScoreData::C_ScoreData() {
  SetDefaults();
  Read();
}

void C_ScoreData::Read() {
  C_File file;
  if (!file.Open(kFileName, true, OPEN_EXISTING)) {
    const DWORD error = GetLastError();
    m_State = error == ERROR_FILE_NOT_FOUND ? FileState::kMissing : FileState::kUnreadable;
    m_strProblem = Named(" could not be opened: ") + SystemErrorText(error);
    return;
  }
  DWORD high = 0;
  const DWORD size = file.GetSize(&high);
  if (size == 0 && high == 0) {
    m_State = FileState::kMissing;  // made afresh, as when missing
    return;
  }
  if (size != static_cast<DWORD>(kFileBytes) || high != 0) {
    const std::uint64_t bytes = (std::uint64_t{high} << 32) | size;
    m_State = FileState::kDamaged;
    m_strProblem = Named(" is damaged: it holds ") + std::to_string(bytes) + " bytes, not " +
                   std::to_string(kFileBytes);
    return;
  }
  std::uint8_t bytes[kFileBytes] = {};
  if (!file.Read(bytes, kFileBytes, 0) || file.GetReadCount() != static_cast<DWORD>(kFileBytes)) {
    m_State = FileState::kUnreadable;
    m_strProblem = Named(" could not be read whole: ") + SystemErrorText(GetLastError());
    return;
  }
  const int damaged = FirstDamagedSlot(bytes);
  if (damaged >= 0) {
    m_State = FileState::kDamaged;
    m_strProblem = Named(" is damaged: ") +
                   (damaged == 0 ? std::string("its header is wrong") : "slot " + std::to_string(damaged) +
                                                                            " holds no record the game writes");
    return;
  }
  for (std::int32_t s = 1; s < kSlots; ++s) {
    m_aTimes[s] = ReadLE32(bytes + s * kSlotBytes);
    std::memcpy(m_aNames[s], bytes + s * kSlotBytes + 4, 4);
    m_aNames[s][3] = 0;
  }
  for (std::int32_t i = 0; i < 3; ++i) m_bFlags[i] = bytes[5 + i] == static_cast<std::uint8_t>(kDefaultName[i]);
  m_State = FileState::kGood;
}

void C_ScoreData::Prepare() {
  switch (m_State) {
    case FileState::kGood:
      return;
    case FileState::kUnreadable:
      // Saves try again, and say so when they fail.
      g_ErrorLog.ReportOnce(m_strProblem);
      return;
    case FileState::kMissing:
      break;
    case FileState::kDamaged: {
      std::string kept, reason;
      if (!KeepDamagedFile(&kept, &reason)) {
        g_ErrorLog.ReportOnce(m_strProblem + "; it could not be kept aside (" + reason +
                              "), so it stays as it is and no record is saved over it");
        m_bKeepFile = true;
        return;
      }
      g_ErrorLog.ReportOnce(m_strProblem + "; it is kept as " + kept + " and a fresh table is used");
      m_State = FileState::kMissing;  // kept: it may now be written over
      break;
    }
  }
  const std::vector<std::uint8_t> image = Image();
  C_File file;
  if (!file.Open(kFileName, false, CREATE_ALWAYS) ||
      !WriteAll(file, image.data(), static_cast<DWORD>(image.size()), 0)) {
    ReportUnsaved(SystemErrorText(GetLastError()));
    return;
  }
  m_State = FileState::kGood;
}

bool C_ScoreData::KeepDamagedFile(std::string* name, std::string* reason) const {
  C_File from;
  if (!from.Open(kFileName, true, OPEN_EXISTING)) {
    *reason = SystemErrorText(GetLastError());
    return false;
  }
  DWORD high = 0;
  const DWORD size = from.GetSize(&high);
  if (high != 0 || size > 0x7FFFFFFFu) {
    *reason = "it is too large to be copied";
    return false;
  }
  C_File to;
  for (int n = 0;; ++n) {
    *name = n == 0 ? std::string(kDamagedName) : std::string(kDamagedName) + "." + std::to_string(n);
    if (to.Open(name->c_str(), false, CREATE_NEW)) break;
    if (GetLastError() != ERROR_FILE_EXISTS || n == 999) {
      *reason = SystemErrorText(GetLastError());
      return false;
    }
  }
  // Copied in blocks: the file may be of any size.
  std::vector<std::uint8_t> block(64 * 1024);
  for (DWORD at = 0; at < size; at += from.GetReadCount()) {
    const DWORD n = std::min<DWORD>(size - at, static_cast<DWORD>(block.size()));
    if (!from.Read(block.data(), n, static_cast<LONG>(at)) || from.GetReadCount() != n ||
        !WriteAll(to, block.data(), n, static_cast<LONG>(at))) {
      *reason = SystemErrorText(GetLastError());
      to.Delete();  // no half copy is left to look like the kept file
      return false;
    }
  }
  return true;
}

bool C_ScoreData::MayWrite() {
  // A damaged file is kept before anything is written over it.
  if (m_State == FileState::kDamaged && !m_bKeepFile) Prepare();
  if (m_bKeepFile) SetLastError(ERROR_SUCCESS);
  return !m_bKeepFile;
}

std::string C_ScoreData::FailureReason() const {
  return m_bKeepFile ? std::string("it is damaged and could not be kept aside") : SystemErrorText(GetLastError());
}

void C_ScoreData::ReportUnsaved(const std::string& reason) {
  g_ErrorLog.Report(Named(" could not be written: ") + reason);
  if (m_bUnsaved) return;
  m_bUnsaved = true;
  ShowGameMessage("Records cannot be saved.\n\n" + FullPath(kFileName) + " could not be written: " + reason +
                  "\n\nThe game goes on, but new records last only until it ends.");
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
  bool saved = MayWrite() && OpenForWriting(file, before);
  for (const PendingRecord& r : m_Pending) {
    if (!saved) break;
    std::uint8_t slot[kSlotBytes];
    WriteLE32(slot, r.time);
    std::memcpy(slot + 4, stored, 4);
    saved = WriteAll(file, slot, kSlotBytes, r.slot * kSlotBytes);
  }
  if (!saved) ReportUnsaved(FailureReason());
  m_Pending.clear();
}

void C_ScoreData::SetFlag(std::int32_t i, bool on) {
  if (i < 0 || i >= 3) return;
  std::vector<std::uint8_t> before = Image();
  m_bFlags[i] = on;
  C_File file;
  std::uint8_t b = on ? static_cast<std::uint8_t>(kDefaultName[i]) : 0;
  if (!MayWrite() || !OpenForWriting(file, before) || !WriteAll(file, &b, 1, 5 + i)) ReportUnsaved(FailureReason());
}

std::int32_t C_ScoreData::GetScore(std::int32_t slot) const {
  return slot >= 0 && slot < kSlots ? m_aTimes[slot] : kNoRecord;
}

const char* C_ScoreData::GetName(std::int32_t slot) const {
  return slot >= 0 && slot < kSlots ? m_aNames[slot] : kDefaultName;
}
