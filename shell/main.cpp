// The player's entry: the real platform layer, then the shell. The command
// line is not read.
#include "package/CTRL_Embedded.h"
#include "platform/PLAT.h"
#include "shell/CTRL_Win32.h"

// Tells `halvorin-pack embed` that this file is a player.
__attribute__((used)) static const char kPlayerMark[] = CTRL_PLAYER_MARK;

int main(int argc, char **argv) {
    PLAT_System *system = PLAT_iCreateReal(argc, argv);
    if (!system) return 1;
    PLAT_iSet(system);
    int result = CTRL_iWinMain();
    PLAT_iSet(nullptr);
    delete system;
    return result;
}
