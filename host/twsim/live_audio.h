// Plays the session's sound live through the computer's sound device (SDL2
// audio), while the scenario runs.
//
// The device sets the pace: Push holds the simulation back while more than
// the lead is queued, so the run keeps to real time with the sound a lead
// ahead. Should the simulation fall behind, the device waits for it rather
// than playing a gap, so what the device gets after the run's first sample
// is exactly the run's sound (which is how it is tested, with SDL's disk
// driver writing it to a file). Before that it may get silence.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class LivePlayer {
public:
    LivePlayer() = default;
    ~LivePlayer();
    LivePlayer(const LivePlayer&) = delete;
    LivePlayer& operator=(const LivePlayer&) = delete;

    // Opens the default device for 16-bit stereo at `rate`; false (and
    // SDL's reason) when there is none.
    bool Open(uint32_t rate, double leadSeconds, std::string* error);
    // Queues interleaved stereo; waits while more than the lead is queued.
    void Push(const std::vector<int16_t>& stereo);
    // Plays out what is queued, then closes the device.
    void Finish();

private:
    static void Fill(void* self, uint8_t* stream, int bytes);

    uint32_t device_ = 0;
    uint32_t rate_ = 0;
    size_t leadSamples_ = 0;
    size_t deviceSamples_ = 0;  // the device's own buffer, in frames
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int16_t> queue_;
    size_t head_ = 0;  // next sample the device takes
    bool done_ = false;
};
