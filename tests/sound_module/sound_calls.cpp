#include "sound_calls.h"

#include <algorithm>

#include "sound_host.h"

uint32_t LiveBuffer(size_t n) {
    std::vector<TwSoundBufferInfo> buffers(TwSoundListBuffers(nullptr, 0));
    buffers.resize(TwSoundListBuffers(buffers.data(), buffers.size()));
    return n < buffers.size() ? buffers[n].id : 0;
}

TwSoundBufferInfo LastBufferInfo(uint32_t id) {
    TwSoundBufferInfo info{};
    TwSoundGetBuffer(id, &info);
    return info;
}

std::vector<std::string> BufferCalls(uint32_t id, const std::vector<std::string>& calls) {
    std::vector<std::string> lines;
    for (const std::string& call : calls) lines.push_back("buffer " + std::to_string(id) + " " + call + " -> 0");
    return lines;
}

int CountCalls(const SoundHost& host, uint32_t id, const std::string& call) {
    const std::string line = BufferCalls(id, {call}).front();
    const std::vector<std::string> calls = host.SoundCalls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), line));
}
