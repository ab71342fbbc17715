// WAV files the reader must handle, built byte by byte in memory, with what
// Open, Read and Rewind are expected to give for each.
//
// Plain data and helpers only, no test framework: the native tests run this
// table against the multimedia file I/O stand-ins, the Windows tests run the
// same table under wine against the real ones. Both must agree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace wave_cases {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kIoBufferSize = 8192;  // the I/O system's default buffer

inline void Put16(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void Put32(Bytes& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

inline void PutId(Bytes& out, const char* id) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// Sample bytes that differ from their neighbours and from one run to the next,
// so that a byte taken from the wrong place shows.
inline Bytes Pattern(size_t count, uint8_t seed) {
    Bytes out(count);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(i * 131 + (i >> 8) * 7 + seed * 29 + 1);
    return out;
}

// A chunk: identifier, size field, body, and a pad byte after an odd body
// unless `pad` is false (a file cut right after its last chunk).
constexpr int64_t kBodySize = -1;
inline Bytes ChunkOf(const char* id, const Bytes& body, int64_t declaredSize = kBodySize, bool pad = true) {
    Bytes out;
    PutId(out, id);
    Put32(out, static_cast<uint32_t>(declaredSize == kBodySize ? int64_t(body.size()) : declaredSize));
    out.insert(out.end(), body.begin(), body.end());
    if (pad && body.size() % 2 == 1) out.push_back(0);
    return out;
}

// A RIFF file: header, form type and chunks. The size field counts the form
// type and the chunks unless given.
inline Bytes RiffOf(const char* id, const char* form, std::initializer_list<Bytes> chunks,
                    int64_t declaredSize = kBodySize) {
    Bytes inner;
    PutId(inner, form);
    for (const Bytes& chunk : chunks) inner.insert(inner.end(), chunk.begin(), chunk.end());
    return ChunkOf(id, inner, declaredSize, false);
}

inline Bytes WaveOf(std::initializer_list<Bytes> chunks, int64_t declaredSize = kBodySize) {
    return RiffOf("RIFF", "WAVE", chunks, declaredSize);
}

// The 16 bytes every format starts with (PCMWAVEFORMAT).
inline Bytes FormatStart(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    Bytes out;
    Put16(out, tag);
    Put16(out, channels);
    Put32(out, rate);
    Put32(out, rate * align);
    Put16(out, align);
    Put16(out, bits);
    return out;
}

inline Bytes Pcm16Mono() { return FormatStart(1, 1, 22050, 16); }
inline Bytes Pcm8Stereo() { return FormatStart(1, 2, 11025, 8); }
inline Bytes Adpcm() { return FormatStart(2, 1, 22050, 4); }
inline Bytes IeeeFloat() { return FormatStart(3, 2, 44100, 32); }

// The format block the reader should give out: the 16 bytes, the extra size
// and the extra bytes.
inline Bytes FormatBlock(const Bytes& start, const Bytes& extra = {}) {
    Bytes out = start;
    Put16(out, static_cast<uint32_t>(extra.size()));
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

struct WaveCase {
    std::string name;
    Bytes file;          // the whole file
    bool opens = false;  // Open succeeds
    Bytes format;        // the format block after a successful Open
    uint32_t dataSize = 0;  // the "data" chunk's size field
    Bytes data;          // the sound bytes the file really holds; fewer than
                         // dataSize when the file ends inside the chunk
    bool readsWhole() const { return data.size() == dataSize; }
};

// Test output names the case instead of dumping its bytes.
inline void PrintTo(const WaveCase& c, std::ostream* out) { *out << c.name; }

inline WaveCase Opens(std::string name, Bytes file, Bytes format, Bytes data, int64_t dataSize = kBodySize) {
    WaveCase c;
    c.name = std::move(name);
    c.file = std::move(file);
    c.opens = true;
    c.format = std::move(format);
    c.dataSize = static_cast<uint32_t>(dataSize == kBodySize ? int64_t(data.size()) : dataSize);
    c.data = std::move(data);
    return c;
}

inline WaveCase Fails(std::string name, Bytes file) {
    WaveCase c;
    c.name = std::move(name);
    c.file = std::move(file);
    return c;
}

inline std::vector<WaveCase> WaveCases() {
    std::vector<WaveCase> cases;
    const Bytes bigData = Pattern(3 * kIoBufferSize + 1234, 1);  // several buffer refills
    const Bytes smallData = Pattern(1000, 2);
    const Bytes oddData = Pattern(333, 3);
    const Bytes info = Join({Bytes{'I', 'N', 'F', 'O'}, ChunkOf("ISFT", Pattern(5, 4))});
    const Bytes adpcmExtra = Pattern(32, 5);

    // Files the reader takes.
    cases.push_back(Opens("Pcm16ByteFormat", WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", smallData)}),
                          FormatBlock(Pcm16Mono()), smallData));
    cases.push_back(Opens("PcmWithExtraSizeFieldAndDataLargerThanIoBuffer",
                          WaveOf({ChunkOf("fmt ", Join({Pcm16Mono(), Bytes{0, 0}})), ChunkOf("data", bigData)}),
                          FormatBlock(Pcm16Mono()), bigData));
    // PCM has no extra bytes: whatever follows the 16 in its chunk is skipped.
    cases.push_back(Opens("PcmLongerFormatChunkIsSkipped",
                          WaveOf({ChunkOf("fmt ", Join({Pcm8Stereo(), Bytes{4, 0, 9, 9, 9, 9}})), ChunkOf("data", smallData)}),
                          FormatBlock(Pcm8Stereo()), smallData));
    cases.push_back(Opens("DataBeforeFormat", WaveOf({ChunkOf("data", oddData), ChunkOf("fmt ", Pcm16Mono())}),
                          FormatBlock(Pcm16Mono()), oddData));
    // Odd-sized chunks (with their pad bytes) before, between and after.
    cases.push_back(Opens("ListChunksBeforeAndBetween",
                          WaveOf({ChunkOf("LIST", info), ChunkOf("fmt ", Join({Pcm16Mono(), Bytes{0, 0, 7}})),
                                  ChunkOf("junk", Pattern(7, 6)), ChunkOf("LIST", info), ChunkOf("data", bigData),
                                  ChunkOf("LIST", info)}),
                          FormatBlock(Pcm16Mono()), bigData));
    cases.push_back(Opens("OddDataAtEndWithoutPadByte",
                          WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", oddData, kBodySize, false)}),
                          FormatBlock(Pcm16Mono()), oddData));
    cases.push_back(Opens("EmptyData", WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", {})}),
                          FormatBlock(Pcm16Mono()), {}));
    // Many files in the wild carry a RIFF size larger than the file.
    cases.push_back(Opens("RiffSizeLargerThanFile",
                          WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", smallData)}, 0x7FFFFFF0),
                          FormatBlock(Pcm16Mono()), smallData));
    cases.push_back(Opens("NonPcmWithExtraBytes",
                          WaveOf({ChunkOf("fmt ", FormatBlock(Adpcm(), adpcmExtra)), ChunkOf("data", smallData)}),
                          FormatBlock(Adpcm(), adpcmExtra), smallData));
    // A 16-byte chunk has no room for an extra size: the format has none, and
    // the next chunk's header is not taken for one.
    cases.push_back(Opens("NonPcmSixteenByteFormatHasNoExtraBytes",
                          WaveOf({ChunkOf("fmt ", IeeeFloat()), ChunkOf("data", bigData)}), FormatBlock(IeeeFloat()),
                          bigData));
    // The file ends inside the "data" chunk: Open succeeds, a whole Read does not.
    cases.push_back(Opens("DataLongerThanFile",
                          WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", bigData, bigData.size() + 5000, false)}),
                          FormatBlock(Pcm16Mono()), bigData, bigData.size() + 5000));
    // Writers that stream leave the data size at all ones: the data is
    // there, a read of all of it is not.
    cases.push_back(Opens("DataSizeAllOnes",
                          WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", smallData, 0xFFFFFFFF, false)}),
                          FormatBlock(Pcm16Mono()), smallData, 0xFFFFFFFF));
    // A search that starts inside the RIFF chunk runs on past its end, so a
    // RIFF size too small for the file is no obstacle.
    cases.push_back(Opens("DataAfterEndOfRiffChunk",
                          Join({WaveOf({ChunkOf("fmt ", Pcm16Mono())}), ChunkOf("data", smallData)}),
                          FormatBlock(Pcm16Mono()), smallData));
    cases.push_back(Opens("FormatAfterEndOfRiffChunk",
                          Join({WaveOf({ChunkOf("data", smallData)}), ChunkOf("fmt ", Pcm16Mono())}),
                          FormatBlock(Pcm16Mono()), smallData));
    // The "fmt " chunk claims more than the file holds, but the data came first.
    cases.push_back(Opens("FormatAfterDataClaimsMoreThanFile",
                          WaveOf({ChunkOf("data", smallData), ChunkOf("fmt ", Pcm16Mono(), 5000)}),
                          FormatBlock(Pcm16Mono()), smallData));

    // Files the reader refuses.
    cases.push_back(Fails("EmptyFile", {}));
    cases.push_back(Fails("TruncatedRiffHeader", Bytes{'R', 'I', 'F', 'F', 40, 0}));
    cases.push_back(Fails("RiffWithoutFormType", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A'}));
    cases.push_back(Fails("BigEndianRiff", RiffOf("RIFX", "WAVE", {ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", smallData)})));
    cases.push_back(Fails("OtherFormType", RiffOf("RIFF", "AVI ", {ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", smallData)})));
    cases.push_back(Fails("NotRiffAtAll", ChunkOf("data", smallData)));
    cases.push_back(Fails("NoFormatChunk", WaveOf({ChunkOf("LIST", info), ChunkOf("data", smallData)})));
    cases.push_back(Fails("NoDataChunk", WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("LIST", info)})));
    const Bytes pcm = Pcm16Mono();
    cases.push_back(Fails("ShortFormatChunk",
                          WaveOf({ChunkOf("fmt ", Bytes(pcm.begin(), pcm.begin() + 14)), ChunkOf("data", smallData)})));
    cases.push_back(Fails("FormatChunkCutByEndOfFile",
                          Join({WaveOf({ChunkOf("data", smallData)}), Bytes{'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1}})));
    // The extra size promises more bytes than the file has.
    cases.push_back(Fails("NonPcmExtraBytesBeyondEndOfFile",
                          WaveOf({ChunkOf("data", smallData),
                                  ChunkOf("fmt ", Join({Adpcm(), Bytes{200, 0}, Pattern(4, 7)}), 18 + 200, false)})));
    // The RIFF size only says where a search may start: a RIFF chunk with
    // no room for chunks after its form type (size 0, or all ones, which
    // wraps round, as streaming writers leave it) holds nothing to find.
    cases.push_back(Fails("RiffSizeZero", WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", smallData)}, 0)));
    cases.push_back(Fails("RiffSizeAllOnes",
                          WaveOf({ChunkOf("fmt ", Pcm16Mono()), ChunkOf("data", smallData)}, 0xFFFFFFFF)));
    // Sizes that lead a search beyond 2 GB, or round to where it started.
    cases.push_back(Fails("ChunkSizeBeyondTwoGigabytes",
                          WaveOf({ChunkOf("big ", Pattern(8, 8), 0x7FFFFFF0), ChunkOf("fmt ", Pcm16Mono()),
                                  ChunkOf("data", smallData)})));
    cases.push_back(Fails("ChunkSizeLeadsBackToItself",
                          WaveOf({ChunkOf("loop", Pattern(8, 8), 0xFFFFFFF8), ChunkOf("fmt ", Pcm16Mono()),
                                  ChunkOf("data", smallData)})));
    return cases;
}

// Writes `bytes` to `path`; false if that did not work.
inline bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace wave_cases
