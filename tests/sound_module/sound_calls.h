// Reading the sound device stand-in's record in the sound module's tests.
#pragma once

#include <control_sound.h>

#include <cstdint>
#include <string>
#include <vector>

class SoundHost;

// The number of the n-th buffer that is alive (neither released nor dead),
// in the order they were made; 0 when there is none.
uint32_t LiveBuffer(size_t n);
// What the stand-in knows of buffer `id` now.
TwSoundBufferInfo LastBufferInfo(uint32_t id);
// The record lines of calls on buffer `id` that succeeded, from their
// method parts: {"SetVolume(-600)"} gives {"buffer 2 SetVolume(-600) -> 0"}.
std::vector<std::string> BufferCalls(uint32_t id, const std::vector<std::string>& calls);
// How often buffer `id` got the call (method part as above) since the last clear.
int CountCalls(const SoundHost& host, uint32_t id, const std::string& call);
