// The data folder this build prepares, for telling a player who started the
// game elsewhere where to start it.
#pragma once

#include <string>

// Its absolute path, or empty when the build made none or it is gone.
std::string BuiltDataFolder();
