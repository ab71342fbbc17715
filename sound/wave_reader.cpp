// The WAV file reader: finds the "fmt " and "data" chunks of a RIFF "WAVE"
// file through the multimedia file I/O functions and copies the sound data
// out of their I/O buffer.
#include "wave_reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

constexpr LONG kPcmFormatSize = sizeof(PCMWAVEFORMAT);  // 16
constexpr LONG kExtraSizeField = sizeof(WORD);          // the cbSize after those 16

static_assert(sizeof(PCMWAVEFORMAT) == 16 && sizeof(WAVEFORMATEX) == 18);

bool ReadBytes(HMMIO file, void* destination, LONG count) {
    return mmioRead(file, static_cast<HPSTR>(destination), count) == count;
}

// The search for a chunk adds chunk sizes up in 32 bits: a size that runs
// past 2 GB wraps round and can lead the search back to a chunk it has
// already passed, where it goes round for ever (and a file that loops would
// hang the simulator while it loads its sounds). So the chunks the searches
// for "fmt " and "data" will pass are walked once first, and a file whose
// chunks reach beyond 2 GB before both are seen is refused.
bool ChunksLeadForward(HMMIO file, const MMCKINFO& riffChunk) {
    constexpr uint64_t kLastReachable = 0x7FFFFFFF;  // mmioSeek takes a LONG
    uint64_t position = uint64_t(riffChunk.dwDataOffset) + sizeof(FOURCC);
    bool fmtSeen = false;
    bool dataSeen = false;
    while (!(fmtSeen && dataSeen)) {
        if (position > kLastReachable || mmioSeek(file, static_cast<LONG>(position), SEEK_SET) == -1) return false;
        MMCKINFO chunk{};
        // The end of the file ends the searches as well.
        if (mmioDescend(file, &chunk, nullptr, 0) != MMSYSERR_NOERROR) return true;
        fmtSeen = fmtSeen || chunk.ckid == kFmt;
        dataSeen = dataSeen || chunk.ckid == kData;
        position = uint64_t(chunk.dwDataOffset) + chunk.cksize + (chunk.cksize & 1);
    }
    return true;
}

// Reads the RIFF header and the "fmt " chunk of an open file. Returns the
// format block (18 + cbSize bytes, malloc'd) or null when the file is not a
// WAV file we can use. `riffChunk` is filled on the way.
WAVEFORMATEX* ReadHeader(HMMIO file, MMCKINFO& riffChunk) {
    riffChunk = MMCKINFO{};
    if (mmioDescend(file, &riffChunk, nullptr, 0) != MMSYSERR_NOERROR) return nullptr;
    if (riffChunk.ckid != kRiff || riffChunk.fccType != kWave) return nullptr;
    if (!ChunksLeadForward(file, riffChunk)) return nullptr;
    if (mmioSeek(file, static_cast<LONG>(riffChunk.dwDataOffset + sizeof(FOURCC)), SEEK_SET) == -1) return nullptr;

    MMCKINFO fmtChunk{};
    fmtChunk.ckid = kFmt;
    if (mmioDescend(file, &fmtChunk, &riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return nullptr;
    if (fmtChunk.cksize < static_cast<DWORD>(kPcmFormatSize)) return nullptr;

    PCMWAVEFORMAT pcm;
    if (!ReadBytes(file, &pcm, kPcmFormatSize)) return nullptr;

    // PCM has no extra bytes, whatever else its chunk holds. Other formats
    // carry their extra size in the two bytes after the first 16 when the
    // chunk has room for them; a 16-byte chunk has no extra bytes, and the
    // next chunk's header is not a size.
    WORD extraSize = 0;
    if (pcm.wf.wFormatTag != WAVE_FORMAT_PCM && fmtChunk.cksize >= static_cast<DWORD>(kPcmFormatSize + kExtraSizeField)) {
        if (!ReadBytes(file, &extraSize, kExtraSizeField)) return nullptr;
    }

    auto* format = static_cast<WAVEFORMATEX*>(std::malloc(sizeof(WAVEFORMATEX) + extraSize));
    if (format == nullptr) return nullptr;
    std::memcpy(format, &pcm, kPcmFormatSize);
    format->cbSize = extraSize;
    // The extra bytes are read from the file, so a size that claims more than
    // the file holds fails here instead of being trusted.
    if (extraSize != 0 && !ReadBytes(file, reinterpret_cast<BYTE*>(format) + sizeof(WAVEFORMATEX), extraSize)) {
        std::free(format);
        return nullptr;
    }
    if (mmioAscend(file, &fmtChunk, 0) != MMSYSERR_NOERROR) {
        std::free(format);
        return nullptr;
    }
    return format;
}

}  // namespace

WaveFileReader::~WaveFileReader() {
    Close();
    std::free(format);
}

HRESULT WaveFileReader::Open(const char* path) {
    std::free(format);
    format = nullptr;
    // A reader opened again lets go of the file it held.
    Close();
    dataChunk = MMCKINFO{};
    riffChunk = MMCKINFO{};
    if (path == nullptr) return E_FAIL;

    HMMIO opened = mmioOpenA(const_cast<LPSTR>(path), nullptr, MMIO_ALLOCBUF);
    if (opened == nullptr) return E_FAIL;

    WAVEFORMATEX* header = ReadHeader(opened, riffChunk);
    if (header == nullptr) {
        mmioClose(opened, 0);
        riffChunk = MMCKINFO{};
        return E_FAIL;
    }
    format = header;
    file = opened;

    // Without a "data" chunk there is nothing to play: a failed Open leaves
    // neither a format block nor an open file behind.
    if (FAILED(Rewind())) {
        Close();
        std::free(format);
        format = nullptr;
        riffChunk = MMCKINFO{};
        dataChunk = MMCKINFO{};
        return E_FAIL;
    }
    return S_OK;
}

HRESULT WaveFileReader::Rewind() {
    if (file == nullptr) return E_FAIL;
    // Nothing can be read until the "data" chunk is found again.
    dataChunk = MMCKINFO{};
    dataChunk.ckid = kData;
    // Just after the form type "WAVE".
    const DWORD firstChunk = riffChunk.dwDataOffset + sizeof(FOURCC);
    if (mmioSeek(file, static_cast<LONG>(firstChunk), SEEK_SET) == -1) return E_FAIL;
    if (mmioDescend(file, &dataChunk, &riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) {
        dataChunk.cksize = 0;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT WaveFileReader::Read(UINT count, BYTE* destination, UINT* bytesRead) {
    if (bytesRead == nullptr) return E_FAIL;
    *bytesRead = 0;
    if (file == nullptr) return E_FAIL;

    MMIOINFO io;
    if (mmioGetInfo(file, &io, 0) != MMSYSERR_NOERROR) return E_FAIL;

    const UINT wanted = count < dataChunk.cksize ? count : static_cast<UINT>(dataChunk.cksize);
    if (wanted != 0 && destination == nullptr) return E_FAIL;
    // The remaining size drops by the whole request before the copy: after a
    // failed read it is short by what was asked for, and Rewind sets it
    // right again.
    dataChunk.cksize -= wanted;

    // Copy whole runs out of the I/O buffer, refilling it whenever it is used
    // up. An empty buffer after a refill means the file ends before the chunk.
    UINT copied = 0;
    bool complete = true;
    while (copied < wanted) {
        if (io.pchNext >= io.pchEndRead) {
            if (mmioAdvance(file, &io, MMIO_READ) != MMSYSERR_NOERROR || io.pchNext >= io.pchEndRead) {
                complete = false;
                break;
            }
        }
        const size_t inBuffer = static_cast<size_t>(io.pchEndRead - io.pchNext);
        const size_t run = inBuffer < wanted - copied ? inBuffer : wanted - copied;
        std::memcpy(destination + copied, io.pchNext, run);
        io.pchNext += run;
        copied += static_cast<UINT>(run);
    }
    // Hand the buffer state back on every way out, so the I/O system's idea
    // of the position stays right.
    const bool handedBack = mmioSetInfo(file, &io, 0) == MMSYSERR_NOERROR;
    if (!complete || !handedBack) return E_FAIL;
    *bytesRead = wanted;
    return S_OK;
}

HRESULT WaveFileReader::Close() {
    if (file != nullptr) {
        mmioClose(file, 0);
        file = nullptr;
    }
    return S_OK;
}
