// What the game tells the player when something is wrong with its files: a
// message box under the game's title, and the full paths it names.
#pragma once

#include <string>

// The window title, and the caption of the game's boxes.
constexpr const char* kGameTitle = "ぬらもぺい";

// A modal box with the game's title as caption, an error icon and OK.
void ShowGameMessage(const std::string& text);
// The absolute path of a name relative to the working folder ("." gives the
// folder itself).
std::string FullPath(const char* name);
