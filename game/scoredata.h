// The score file "score.dat": 110 slots of 8 bytes. Slot 0 is a header
// (3000000, then the byte 1 and the three course flags); slots 1 to 99 hold
// the best time (ms, little-endian) and a name of up to three letters per
// stage; slots 100 to 109 are reserved and keep their creation values.
// Records wait in a queue until a name is known. Reading creates nothing:
// the game prepares the file once it has started, so a start that fails
// leaves no file behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class C_ScoreData {
 public:
  static constexpr std::int32_t kSlots = 110;
  static constexpr std::int32_t kSlotBytes = 8;
  static constexpr std::int32_t kFileBytes = kSlots * kSlotBytes;
  // The time of a slot without a record.
  static constexpr std::int32_t kNoRecord = 3000000;
  // A stored time of at most this counts as a record.
  static constexpr std::int32_t kRecordLimit = 1000000;
  static constexpr const char* kDefaultName = "QZX";
  static constexpr const char* kFileName = "score.dat";
  // Where a damaged file is kept: this name, or the first free one of
  // score.dat.bad.1, score.dat.bad.2, ...
  static constexpr const char* kDamagedName = "score.dat.bad";

  enum class FileState {
    kGood,        // read whole
    kMissing,     // absent or empty: made at Prepare
    kDamaged,     // the wrong size, or a slot no game writes: kept aside at Prepare
    kUnreadable,  // cannot be opened or read (its folder or the file forbids it, ...)
  };

  // Reads "score.dat". Unless the file is good, memory holds a fresh table
  // (every slot without a record, all flags clear).
  C_ScoreData();

  // Makes the file ready for saving, once the game has started: a missing or
  // empty file is created with the table; a damaged one is reported, copied to
  // a free name (never over another file) and replaced by the fresh table; an
  // unreadable one is reported. A damaged file that cannot be copied stays as
  // it is, and nothing is saved over it.
  void Prepare();
  FileState GetFileState() const { return m_State; }
  // True once a save has failed: memory then holds what the file lacks.
  bool HoldsUnsaved() const { return m_bUnsaved; }

  // Slots 1 to 109; other slots are refused silently.
  void QueueScore(std::int32_t slot, std::int32_t time);
  bool HasPending() const { return !m_Pending.empty(); }
  // Writes every queued record with the name (up to three letters) in the
  // order queued, then empties the queue.
  void WriteRecords(const char* name);
  // Flag i (0 to 2), in memory and in the file.
  void SetFlag(std::int32_t i, bool on);
  bool GetFlag(std::int32_t i) const { return i >= 0 && i < 3 && m_bFlags[i]; }

  // As held in memory; a slot outside the table reads as one without a record.
  std::int32_t GetScore(std::int32_t slot) const;
  const char* GetName(std::int32_t slot) const;

 private:
  struct PendingRecord {
    std::int32_t slot;
    std::int32_t time;
  };

  void SetDefaults();
  void Read();
  // The whole file as held in memory.
  std::vector<std::uint8_t> Image() const;
  // Copies the damaged file to the first free name; its name, or false with
  // the system's reason.
  bool KeepDamagedFile(std::string* name, std::string* reason) const;
  // False when a damaged file that could not be kept aside is in the way.
  bool MayWrite();
  // Why the last save failed.
  std::string FailureReason() const;
  // A save failed: the record stays in memory only. The log and stderr get a
  // line each time, the player one box per session.
  void ReportUnsaved(const std::string& reason);

  std::int32_t m_aTimes[kSlots];
  char m_aNames[kSlots][4];
  bool m_bFlags[3] = {false, false, false};
  std::vector<PendingRecord> m_Pending;
  FileState m_State = FileState::kMissing;
  std::string m_strProblem;  // what is wrong with a damaged or unreadable file
  bool m_bKeepFile = false;  // a damaged file that could not be copied: never written
  bool m_bUnsaved = false;  // a save failed (the player has been told)
};
