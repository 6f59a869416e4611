#include "game/datafolder.h"

#include "game/floordata.h"
#include "qel/appbase/qelfile.h"

std::string BuiltDataFolder() {
#ifdef NURA_GAMEDATA_DIR
  // Named only while it holds the data.
  C_File probe;
  if (probe.Open((std::string(NURA_GAMEDATA_DIR) + "/" + C_FloorData::kStageFile).c_str(), true, OPEN_EXISTING))
    return NURA_GAMEDATA_DIR;
#endif
  return std::string();
}
