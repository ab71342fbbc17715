// The command protocol over local variables: the master controller that
// acts on every sound at once, and each sound item's command variable.
//
// Commands are handshakes. A panel gauge writes a command value; on the
// module's next enabled update it is executed and the idle value written
// back: -1 into an item's variable, 0 into the master controller.
#pragma once

#include <cstdint>

enum SoundCommand : int32_t {
    CmdStop = 0,
    CmdPlayOnce = 1,
    CmdPlayLooped = 2,
    CmdSetVolume = 3,
    CmdReadVolume = 4,
    CmdSetPan = 5,
    CmdReadPan = 6,
    CmdPlayOnceVolPan = 7,
    CmdPlayLoopedVolPan = 8,
};

enum MasterCommand : int32_t {
    MasterNone = 0,
    MasterStopAll = 1,
    MasterSilenceAll = 2,
    MasterRestoreAll = 3,
};

void ProcessMasterController();
// Executes master command `command` as if read from the master controller,
// without reading or writing the variable.
void ExecuteMasterCommand(int32_t command);
void ProcessSoundItems();
void ProcessSoundCommand(uint32_t index);
void PlaySoundOnce(uint32_t index, int32_t volume, int32_t pan);
void PlaySoundLooped(uint32_t index, int32_t volume, int32_t pan);
void ResetSoundCommand(uint32_t index);
void ResetAllSoundCommands();
