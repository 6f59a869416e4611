// The stage tables: "Floor.dat" (the input up to its first NUL byte) and
// "StageData.dat" (the rest), one stage loaded and its preview path walked.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "game/floordata.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  nura::fuzz::EnterGameFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the stage, one beyond each end included.
  const std::int32_t stage = data[0] % (C_FloorData::kMaxStage + 3) - 1;
  const auto [floors, stages] = nura::fuzz::SplitAtNul(data + 1, size - 1);
  nura::fuzz::PutFile(C_FloorData::kFloorFile, floors);
  nura::fuzz::PutFile(C_FloorData::kStageFile, stages);
  nura::fuzz::PutFile(C_ScoreData::kFileName, {});

  C_FloorData tables;
  tables.LoadStage(stage);
  const std::int32_t n = tables.FloorCount();
  for (std::int32_t i = -1; i <= n; ++i) {
    tables.xLeft(i);
    tables.GetTop(i);
    tables.GetRight(i);
    tables.GetBottom(i);
  }
  for (std::int32_t i = -1; i <= tables.GetEnemyCount(); ++i) tables.GetEnemy(i);
  std::int32_t x = tables.GetStartX(), y = tables.GetStartY();
  // The game shows a path for a few hundred frames; a table may ask for more.
  for (std::int32_t frame = 0; frame < 20000 && tables.StepPath(&x, &y, frame); ++frame) {
  }
  return 0;
}
