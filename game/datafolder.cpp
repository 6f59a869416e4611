#include "game/datafolder.h"

#include "game/floordata.h"
#include "qel/appbase/qelfile.h"

std::string BuiltDataFolder() {
#ifdef NURA_GAMEDATA_DIR
  return FolderIfItHoldsTheData(NURA_GAMEDATA_DIR);
#else
  return std::string();
#endif
}

std::string FolderIfItHoldsTheData(const std::string& folder) {
  C_File probe;
  if (!folder.empty() && probe.Open((folder + "/" + C_FloorData::kStageFile).c_str(), true, OPEN_EXISTING))
    return folder;
  return std::string();
}
