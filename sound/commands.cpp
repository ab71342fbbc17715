#include "commands.h"

#include <algorithm>

#include "config.h"
#include "log.h"
#include "sound_output.h"
#include "var_access.h"
#include "volume_pan.h"

namespace {

constexpr int32_t kIdleCommand = -1;

// An item's slot is its index; items beyond the slots are never stored
// (config), but no command may reach past the tables either way.
uint16_t SlotOf(uint32_t index) { return static_cast<uint16_t>(std::min<uint32_t>(index, kSoundSlots)); }

void StopAll() {
    for (std::size_t i = 0; i < soundItems.size(); ++i) StopBuffer(SlotOf(static_cast<uint32_t>(i)), 1);
    ResetAllSoundCommands();
}

// "Silence all" keeps each buffer's level, unless it is silent already: a
// second silence must not overwrite the levels the first one kept.
void SilenceAll() {
    for (std::size_t i = 0; i < soundItems.size(); ++i) {
        const uint16_t slot = SlotOf(static_cast<uint32_t>(i));
        const int32_t volume = GetBufferVolume(slot);
        if (volume != kVolumeSilent) soundItems[i].savedVolume = volume;
        SetBufferVolume(slot, kVolumeSilent);
    }
}

void RestoreAll() {
    for (std::size_t i = 0; i < soundItems.size(); ++i) {
        SetBufferVolume(SlotOf(static_cast<uint32_t>(i)), ClampVolume(soundItems[i].savedVolume));
    }
}

}  // namespace

void ExecuteMasterCommand(int32_t command) {
    switch (command) {
        case MasterStopAll: StopAll(); break;
        case MasterSilenceAll: SilenceAll(); break;
        case MasterRestoreAll: RestoreAll(); break;
        default: break;  // unknown commands are only acknowledged
    }
}

void ProcessMasterController() {
    // Without a master controller there is nothing to read: no gauge can
    // send a master command.
    if (masterController.empty()) return;
    const int32_t command = GetVarInt(masterController);
    if (command == MasterNone) return;
    ExecuteMasterCommand(command);
    SetVarInt(masterController, 0);
}

void ProcessSoundItems() {
    for (std::size_t i = 0; i < soundItems.size(); ++i) {
        const int32_t value = GetVarInt(soundItems[i].lVariable);
        if (value < 0) continue;
        soundItems[i].command = value;
        ProcessSoundCommand(static_cast<uint32_t>(i));
    }
}

void ProcessSoundCommand(uint32_t index) {
    if (index >= soundItems.size()) return;
    STsoundItem& item = soundItems[index];
    const uint16_t slot = SlotOf(index);
    LogPlayCommand(4, item.wavFile, item.command);
    switch (item.command) {
        case CmdPlayOnce: PlaySoundOnce(index, item.defaultVolume, 0); break;
        case CmdPlayLooped: PlaySoundLooped(index, item.defaultVolume, 0); break;
        case CmdPlayOnceVolPan:
        case CmdPlayLoopedVolPan: {
            // As read: the sound output hands them to DirectSound unchanged.
            const int32_t volume = GetVarInt(bufferVolWrite);
            const int32_t pan = GetVarInt(bufferPanWrite);
            if (item.command == CmdPlayOnceVolPan) {
                PlaySoundOnce(index, volume, pan);
            } else {
                PlaySoundLooped(index, volume, pan);
            }
            break;
        }
        case CmdSetVolume:
            SetBufferVolume(slot, ClampVolume(GetVarInt(bufferVolWrite)));
            ResetSoundCommand(index);
            break;
        case CmdSetPan:
            SetBufferPan(slot, ClampPan(GetVarInt(bufferPanWrite)));
            ResetSoundCommand(index);
            break;
        case CmdReadVolume:
            SetVarInt(bufferVolRead, GetBufferVolume(slot));
            ResetSoundCommand(index);
            break;
        case CmdReadPan:
            SetVarInt(bufferPanRead, GetBufferPan(slot));
            ResetSoundCommand(index);
            break;
        case CmdStop:
            StopBuffer(slot, 1);
            ResetSoundCommand(index);
            break;
        default: break;  // not a command: left in the variable, logged again next update
    }
}

void PlaySoundOnce(uint32_t index, int32_t volume, int32_t pan) {
    const uint16_t slot = SlotOf(index);
    LogNumber(14, slot);
    SetBufferVolume(slot, volume);
    SetBufferPan(slot, pan);
    PlayBuffer(slot, 0);
    ResetSoundCommand(index);
}

void PlaySoundLooped(uint32_t index, int32_t volume, int32_t pan) {
    const uint16_t slot = SlotOf(index);
    LogNumber(15, slot);
    SetBufferVolume(slot, volume);
    SetBufferPan(slot, pan);
    PlayBuffer(slot, 1);
    ResetSoundCommand(index);
}

void ResetSoundCommand(uint32_t index) {
    if (index >= soundItems.size()) return;
    soundItems[index].command = kIdleCommand;
    SetVarInt(soundItems[index].lVariable, kIdleCommand);
}

void ResetAllSoundCommands() {
    for (std::size_t i = 0; i < soundItems.size(); ++i) ResetSoundCommand(static_cast<uint32_t>(i));
}
