// Reads one WAV file (RIFF form "WAVE") through the multimedia file I/O
// functions: its format block, and its sound data on request. The sound
// output keeps one reader per sound slot open for the module's whole life, so
// that a lost buffer can be filled again from the file.
#pragma once

#include <windows.h>
#include <mmsystem.h>

struct WaveFileReader {
    WAVEFORMATEX* format = nullptr;  // owned (malloc); 18 + cbSize bytes; empty until Open succeeds
    HMMIO file = nullptr;
    MMCKINFO dataChunk{};            // cksize counts the data bytes not yet read
    MMCKINFO riffChunk{};            // dwDataOffset is the position of the form type

    WaveFileReader() = default;
    WaveFileReader(const WaveFileReader&) = delete;
    WaveFileReader& operator=(const WaveFileReader&) = delete;
    ~WaveFileReader();

    HRESULT Open(const char* path);
    HRESULT Rewind();
    HRESULT Read(UINT count, BYTE* destination, UINT* bytesRead);
    HRESULT Close();
};
