// The score file "score.dat": 110 slots of 8 bytes. Slot 0 is a header
// (3000000, then the byte 1 and the three course flags); slots 1 to 99 hold
// the best time (ms, little-endian) and a name of up to three letters per
// stage; slots 100 to 109 are reserved and keep their creation values.
// Records wait in a queue until a name is known.
#pragma once

#include <cstdint>
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

  // Reads "score.dat", creating it when it is missing or empty.
  C_ScoreData();

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
  // The whole file as held in memory.
  std::vector<std::uint8_t> Image() const;

  std::int32_t m_aTimes[kSlots];
  char m_aNames[kSlots][4];
  bool m_bFlags[3] = {false, false, false};
  std::vector<PendingRecord> m_Pending;
};
