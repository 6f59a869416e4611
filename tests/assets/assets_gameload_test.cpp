// The generated data through the game's own readers: both tables load with
// the game's table reader and stage loader without a line in the error log,
// every stage has floors, a time limit and enemies of known races, and every
// sound effect passes the framework's WAVE reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "game/enemy.h"
#include "game/floordata.h"
#include "qel/appbase/qelcsvtable.h"
#include "qel/appbase/qelsound.h"
#include "tests/assets/assets_support.h"
#include "tests/support/test_util.h"

namespace nura::assets_test {
namespace {

TEST(AssetsGameLoad, StageTablesLoadThroughTheGameWithoutErrors) {
  // A copy of the tables in a folder of its own: the loaders also create the
  // score file and the error log beside them.
  test::TempDir dir;
  for (const char* name : {"Floor.dat", "StageData.dat"})
    std::filesystem::copy_file(DataPath(name), dir / name);
  test::ScopedChdir chdir(dir.path());

  for (const char* name : {"Floor.dat", "StageData.dat"}) {
    C_CsvTable table;
    ASSERT_EQ(table.Load(name), 1) << name;
    EXPECT_GT(table.GetRowCount(), 20u) << name;
  }
  C_FloorData data;
  for (int stage = 1; stage <= 20; ++stage) {
    data.LoadStage(stage);
    EXPECT_EQ(data.nStage(), stage);
    EXPECT_GT(data.FloorCount(), 0) << "stage " << stage;
    EXPECT_GT(data.GetTimeLimit(), data.GetThresholdB()) << "stage " << stage;
    EXPECT_EQ(data.GetBestTime(), data.GetTimeLimit()) << "no record yet: stage " << stage;
    EXPECT_FALSE(data.GetPathSteps().empty()) << "stage " << stage;
    for (int i = 0; i < data.GetEnemyCount(); ++i) {
      const C_EnemyEntry e = data.GetEnemy(i);
      EXPECT_NE(CreateEnemy(e.race, e.a, e.b, e.c, e.d), nullptr) << "stage " << stage << " enemy " << i;
    }
  }
  if (std::filesystem::exists("ErrorLog.txt")) {
    const std::vector<std::uint8_t> log = test::ReadFileBytes("ErrorLog.txt");
    ADD_FAILURE() << "the error log has lines:\n" << std::string(log.begin(), log.end());
  }
}

TEST(AssetsGameLoad, EverySoundEffectPassesTheFrameworkReader) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(DataPath("SE")))
    if (entry.path().extension() == ".wav") names.push_back("SE/" + entry.path().filename().string());
  EXPECT_GE(names.size(), SoundNames().size());
  for (const std::string& name : names) {
    std::uint8_t* raw = nullptr;
    WAVEFORMATEX format{};
    const std::uint32_t bytes = C_SoundBuffer::ReadWave(DataPath(name).c_str(), &raw, &format);
    std::unique_ptr<std::uint8_t[]> samples(raw);
    EXPECT_GT(bytes, 0u) << name;
    EXPECT_NE(samples, nullptr) << name;
    EXPECT_EQ(format.wFormatTag, 1) << name;
    EXPECT_GT(format.nBlockAlign, 0) << name;
    if (format.nBlockAlign) {
      EXPECT_EQ(bytes % format.nBlockAlign, 0u) << name;
    }
  }
}

}  // namespace
}  // namespace nura::assets_test
