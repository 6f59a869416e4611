// The score file: read whatever "score.dat" holds, then write a record and
// a flag and read them back from the file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "game/scoredata.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nura::fuzz::EnterGameFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the slot to record; the rest is the file.
  const std::int32_t slot = 1 + data[0] % 99;
  nura::fuzz::EmptyGameFolder();
  nura::fuzz::PutFile(C_ScoreData::kFileName, std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  C_ScoreData scores;
  const bool damaged = scores.GetFileState() == C_ScoreData::FileState::kDamaged;
  for (std::int32_t s = -1; s <= C_ScoreData::kSlots; ++s) {
    nura::fuzz::Require(std::strlen(scores.GetName(s)) <= 3, "names of at most three letters");
  }
  scores.QueueScore(slot, 12345);
  scores.SetFlag(1, true);
  scores.WriteRecords("ABC");

  if (damaged) {
    std::ifstream kept(C_ScoreData::kDamagedName, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    nura::fuzz::Require(bytes == std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1),
                        "a damaged file is kept aside whole");
  }

  const C_ScoreData again;
  nura::fuzz::Require(again.GetScore(slot) == 12345 && std::strcmp(again.GetName(slot), "ABC") == 0,
                      "a written record reads back");
  nura::fuzz::Require(again.GetFlag(1), "a written flag reads back");
  for (std::int32_t s = 1; s < C_ScoreData::kSlots; ++s)
    if (s != slot) nura::fuzz::Require(again.GetScore(s) == scores.GetScore(s), "other slots keep what was read");
  return 0;
}
