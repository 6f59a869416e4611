// A table from time to the key frame in force and the time since it started.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

#include "platform/win_types.h"

class C_KeyFrameTable {
 public:
  struct KeyRange {
    std::int32_t start;
    std::int32_t end;
    std::uint32_t key;
  };

  // Key k starts at time; keys below k that do not exist yet start there too.
  std::int32_t AddKey(std::int32_t time, std::uint32_t k);
  // The last key (from the start) whose time is at most t, and t minus its time.
  // Before the first key, or on an empty table, key 0.
  std::int32_t Lookup(std::int32_t t, std::uint32_t* k, std::int32_t* dt) const;
  HRESULT GetKeyTime(std::uint32_t i, std::int32_t* time) const;
  // Removes the range starting at start: 0 when one was removed, else 1.
  std::int32_t RemoveRange(std::int32_t start, std::int32_t end, std::uint32_t k);
  void ClearRanges() { m_Ranges.clear(); }

  std::size_t GetKeyCount() const { return m_Times.size(); }
  std::size_t GetRangeCount() const { return m_Ranges.size(); }

 private:
  struct LaterStartFirst {
    bool operator()(const KeyRange& a, const KeyRange& b) const { return a.start > b.start; }
  };

  std::set<KeyRange, LaterStartFirst> m_Ranges;
  std::vector<std::int32_t> m_Times;  // start time by key number
};
