#include "live_audio.h"

#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// How long the device waits for a late simulation before it plays silence.
constexpr auto kPatience = std::chrono::seconds(2);

}  // namespace

LivePlayer::~LivePlayer() {
    if (device_ != 0) {
        SDL_CloseAudioDevice(device_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

bool LivePlayer::Open(uint32_t rate, double leadSeconds, std::string* error) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *error = std::string("no sound: ") + SDL_GetError();
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(rate);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = &LivePlayer::Fill;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the device takes.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        *error = std::string("cannot open a sound device: ") + SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    rate_ = rate;
    leadSamples_ = 2 * static_cast<size_t>(leadSeconds * rate);
    deviceSamples_ = have.samples;
    // Started at once: a paused device plays silence of its own, while a
    // started one asks Fill, which waits for the run's first sound.
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void LivePlayer::Fill(void* self, uint8_t* stream, int bytes) {
    auto& player = *static_cast<LivePlayer*>(self);
    auto* out = reinterpret_cast<int16_t*>(stream);
    const size_t wanted = static_cast<size_t>(bytes) / sizeof(int16_t);
    size_t given = 0;
    std::unique_lock<std::mutex> lock(player.mutex_);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (given < wanted) {
        const size_t available = player.queue_.size() - player.head_;
        const size_t take = std::min(available, wanted - given);
        if (take > 0) std::memcpy(out + given, player.queue_.data() + player.head_, take * sizeof(int16_t));
        player.head_ += take;
        given += take;
        if (given == wanted || player.done_) break;
        if (player.changed_.wait_until(lock, deadline) == std::cv_status::timeout) break;
    }
    // Drop what was played once it is a good part of the queue.
    if (player.head_ > 0 && player.head_ * 2 >= player.queue_.size()) {
        player.queue_.erase(player.queue_.begin(), player.queue_.begin() + static_cast<std::ptrdiff_t>(player.head_));
        player.head_ = 0;
    }
    lock.unlock();
    player.changed_.notify_all();
    std::memset(out + given, 0, (wanted - given) * sizeof(int16_t));
}

void LivePlayer::Push(const std::vector<int16_t>& stereo) {
    if (device_ == 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.insert(queue_.end(), stereo.begin(), stereo.end());
    changed_.notify_all();
    changed_.wait(lock, [this] { return queue_.size() - head_ <= leadSamples_; });
}

void LivePlayer::Finish() {
    if (device_ == 0) return;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        done_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return queue_.size() == head_; });
    }
    // The device's own buffer still has its last block to play.
    SDL_Delay(static_cast<uint32_t>(deviceSamples_ * 1000 / std::max<uint32_t>(rate_, 1)) + 50);
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    device_ = 0;
}
