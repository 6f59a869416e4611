// The data folder this build prepares, for telling a player who started the
// game elsewhere where to start it.
#pragma once

#include <string>

// Its absolute path, or empty when the build made none or it is gone.
std::string BuiltDataFolder();
// The folder when it holds the game's stage table, else empty: a folder
// without the data is no place to send the player to.
std::string FolderIfItHoldsTheData(const std::string& folder);
