// The game program. It runs in the folder that holds its data (pictures under
// cg/, sounds under SE/, the music, the stage tables and the score file).
#include "game/gameapp.h"
#include "platform/win_kernel.h"
#include "platform/win_user.h"

int main() {
  char noArguments[] = "";
  return WinMain(GetModuleHandleA(nullptr), nullptr, noArguments, SW_SHOWDEFAULT);
}
