#include "game/gamemessage.h"

#include "platform/win_kernel.h"
#include "platform/win_user.h"

void ShowGameMessage(const std::string& text) {
  MessageBoxA(GetActiveWindow(), text.c_str(), kGameTitle, MB_OK | MB_ICONERROR);
}

std::string FullPath(const char* name) {
  char path[4096];
  const DWORD n = GetFullPathNameA(name, sizeof path, path, nullptr);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string(name);
}
