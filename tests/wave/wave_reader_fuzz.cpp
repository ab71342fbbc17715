// libFuzzer target: any bytes as a WAV file. Open, read the data in pieces
// and whole, rewind and read again; nothing may be read or written past a
// buffer, and what comes out must agree with what the reader says it holds.
#include "wave_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& InputPath() {
    static const std::string path = "/tmp/tw_wave_fuzz_" + std::to_string(::getpid()) + ".wav";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* out = std::fopen(InputPath().c_str(), "wb");
    if (out == nullptr) return 0;
    if (size != 0) std::fwrite(data, 1, size, out);
    std::fclose(out);

    WaveFileReader reader;
    if (reader.Open(InputPath().c_str()) != S_OK) {
        if (reader.format != nullptr || reader.file != nullptr) std::abort();
        return 0;
    }
    if (reader.format == nullptr) std::abort();
    // The whole format block must be readable.
    volatile uint8_t sink = 0;
    const auto* block = reinterpret_cast<const uint8_t*>(reader.format);
    for (size_t i = 0; i < sizeof(WAVEFORMATEX) + reader.format->cbSize; ++i) sink = sink + block[i];

    // Never more than the file itself could hold.
    const UINT dataSize = reader.dataChunk.cksize;
    const UINT cap = static_cast<UINT>(size);
    std::vector<BYTE> whole(dataSize < cap ? dataSize : cap);
    UINT bytesRead = 0;
    const HRESULT first = reader.Read(static_cast<UINT>(whole.size()), whole.data(), &bytesRead);
    if (first == S_OK && bytesRead != whole.size()) std::abort();

    if (reader.Rewind() != S_OK) std::abort();
    if (reader.dataChunk.cksize != dataSize) std::abort();
    std::vector<BYTE> piece(777);
    size_t offset = 0;
    while (offset < whole.size()) {
        const UINT want = static_cast<UINT>(std::min(piece.size(), whole.size() - offset));
        if (reader.Read(want, piece.data(), &bytesRead) != S_OK) break;
        if (bytesRead != want) std::abort();
        if (first == S_OK && std::memcmp(piece.data(), whole.data() + offset, want) != 0) std::abort();
        offset += want;
    }
    reader.Close();
    return 0;
}
