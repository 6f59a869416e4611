// Which records of a program list were reached while a journal watched it:
// an analysis kept up to date across rewrites (def_use_upkeep.h) re-examines
// only those, instead of the whole program. Every read or write of a record
// goes through its list (RecordList), which notes the index here; a list
// truncated, cleared or replaced is noted as reshaped.
#pragma once

#include <cstdint>
#include <cstring>

#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

class ListJournal {
 public:
  void Note(std::uint32_t i) {
    if (i < m_stamps.Size() && m_stamps[i] == m_round) return;
    NoteSlow(i);
  }
  void NoteReshaped() { m_reshaped = true; }
  // The list cut to `count` records: reshaped when that drops records the
  // watcher knew (those below the base; by default every record counts).
  void NoteTruncated(std::uint32_t count) {
    if (count < m_base) m_reshaped = true;
  }
  // Records from `count` on are new to the watcher: cutting them again is
  // no reshaping.
  void SetBase(std::uint32_t count) { m_base = count; }

  const std::uint32_t* Noted() const { return m_noted.Data(); }
  std::size_t NotedCount() const { return m_noted.Size(); }
  // The list was cut or replaced, or memory ran out while noting: what was
  // reached is not known, only that everything may have changed.
  bool Lost() const { return m_reshaped || m_lost; }
  // Forgets what was noted.
  void NextRound() {
    m_noted.Clear();
    m_reshaped = m_lost = false;
    if (++m_round == 0) {  // the stamps wrapped: none may match the new round
      std::memset(m_stamps.Data(), 0, m_stamps.Size() * sizeof(std::uint32_t));
      m_round = 1;
    }
  }

 private:
  void NoteSlow(std::uint32_t i) {
    if (i >= m_stamps.Size()) {
      const std::size_t old = m_stamps.Size();
      const std::size_t size = static_cast<std::size_t>(i) + 1 + old / 2;
      if (!m_stamps.Reserve(size)) {
        m_lost = true;
        return;
      }
      while (m_stamps.Size() < size) m_stamps.Append(0);
    }
    m_stamps[i] = m_round;
    if (!m_noted.Append(i)) m_lost = true;
  }

  PodArray<std::uint32_t> m_stamps;  // round in which each index was noted last
  PodArray<std::uint32_t> m_noted;
  std::uint32_t m_round = 1;
  std::uint32_t m_base = 0xFFFFFFFFu;
  bool m_reshaped = false;
  bool m_lost = false;
};

}  // namespace gxl::shader
