#include "qel/appbase/qelkeyframe.h"

std::int32_t C_KeyFrameTable::AddKey(std::int32_t time, std::uint32_t k) {
  std::int32_t end = static_cast<std::int32_t>(static_cast<std::uint32_t>(time) + 0xFFFFFFu);
  m_Ranges.insert(KeyRange{time, end, k});
  if (k < m_Times.size())
    m_Times[k] = time;
  else
    m_Times.resize(static_cast<std::size_t>(k) + 1, time);
  return 0;
}

std::int32_t C_KeyFrameTable::Lookup(std::int32_t t, std::uint32_t* k, std::int32_t* dt) const {
  std::size_t n = 0;
  while (n < m_Times.size() && m_Times[n] <= t) ++n;
  // A time before the first key (or no key at all) counts as key 0.
  std::size_t key = n > 0 ? n - 1 : 0;
  std::int32_t start = key < m_Times.size() ? m_Times[key] : 0;
  *k = static_cast<std::uint32_t>(key);
  *dt = static_cast<std::int32_t>(static_cast<std::uint32_t>(t) - static_cast<std::uint32_t>(start));
  return 0;
}

HRESULT C_KeyFrameTable::GetKeyTime(std::uint32_t i, std::int32_t* time) const {
  if (i >= m_Times.size()) return E_FAIL;
  *time = m_Times[i];
  return S_OK;
}

std::int32_t C_KeyFrameTable::RemoveRange(std::int32_t start, std::int32_t end, std::uint32_t k) {
  return m_Ranges.erase(KeyRange{start, end, k}) ? 0 : 1;
}
