// The WAV reader against the table of files in wave_cases.h. Natively it runs
// on the multimedia file I/O stand-ins, in the Windows build on the real ones.
#include "wave_cases.h"
#include "wave_test_support.h"

#include "wave_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using wave_cases::Bytes;
using wave_cases::WaveCase;

Bytes FormatBytes(const WaveFileReader& reader) {
    const auto* start = reinterpret_cast<const uint8_t*>(reader.format);
    return Bytes(start, start + sizeof(WAVEFORMATEX) + reader.format->cbSize);
}

// Reads `count` bytes into a buffer of exactly that size, so that a write
// past it shows under AddressSanitizer.
struct ReadResult {
    HRESULT status;
    UINT bytesRead;
    Bytes bytes;
};
ReadResult ReadSome(WaveFileReader& reader, UINT count) {
    ReadResult result{E_FAIL, 12345, Bytes(count, 0xEE)};
    result.status = reader.Read(count, result.bytes.data(), &result.bytesRead);
    result.bytes.resize(std::min<size_t>(result.bytesRead, count));
    return result;
}

class WaveReaderCases : public ::testing::TestWithParam<WaveCase> {
protected:
    wave_test::TempFolder folder_;
};
// The same, for the files that open: what Read and Rewind give.
class WaveReaderData : public WaveReaderCases {};

TEST_P(WaveReaderCases, OpenGivesFormatAndDataSizeOrFailsClean) {
    const WaveCase& c = GetParam();
    const std::string path = folder_.Write(c.name + ".wav", c.file);
    WaveFileReader reader;
    const HRESULT opened = reader.Open(path.c_str());
    if (!c.opens) {
        EXPECT_EQ(opened, E_FAIL);
        EXPECT_EQ(reader.format, nullptr);
        EXPECT_EQ(reader.file, nullptr);
        return;
    }
    ASSERT_EQ(opened, S_OK);
    ASSERT_NE(reader.format, nullptr);
    EXPECT_NE(reader.file, nullptr);
    EXPECT_EQ(FormatBytes(reader), c.format);
    EXPECT_EQ(reader.dataChunk.ckid, mmioFOURCC('d', 'a', 't', 'a'));
    EXPECT_EQ(reader.dataChunk.cksize, c.dataSize);
    EXPECT_EQ(reader.riffChunk.dwDataOffset, 8u);
}

TEST_P(WaveReaderData, ReadPastTheEndCopiesTheRemainingBytesThenNothing) {
    const WaveCase& c = GetParam();
    WaveFileReader reader;
    ASSERT_EQ(reader.Open(folder_.Write(c.name + ".wav", c.file).c_str()), S_OK);

    // More than there is: more than the chunk holds, or, where the file
    // ends inside the chunk, one byte more than the file holds.
    const UINT count = c.readsWhole() ? c.dataSize + 100 : static_cast<UINT>(c.data.size()) + 1;
    ReadResult all = ReadSome(reader, count);
    if (!c.readsWhole()) {
        // The file ends inside the chunk: nothing is reported as read, the
        // remaining size has dropped by the whole request, and Rewind sets
        // it right again.
        EXPECT_EQ(all.status, E_FAIL);
        EXPECT_EQ(all.bytesRead, 0u);
        EXPECT_EQ(reader.dataChunk.cksize, c.dataSize - count);
        ASSERT_EQ(reader.Rewind(), S_OK);
        EXPECT_EQ(reader.dataChunk.cksize, c.dataSize);
        return;
    }
    EXPECT_EQ(all.status, S_OK);
    EXPECT_EQ(all.bytesRead, c.dataSize);
    EXPECT_EQ(all.bytes, c.data);
    EXPECT_EQ(reader.dataChunk.cksize, 0u);

    ReadResult more = ReadSome(reader, 10);
    EXPECT_EQ(more.status, S_OK);
    EXPECT_EQ(more.bytesRead, 0u);
}

TEST_P(WaveReaderData, RewindDeliversTheSameBytesAgainInPieces) {
    const WaveCase& c = GetParam();
    WaveFileReader reader;
    ASSERT_EQ(reader.Open(folder_.Write(c.name + ".wav", c.file).c_str()), S_OK);
    (void)ReadSome(reader, static_cast<UINT>(c.data.size()));
    ASSERT_EQ(reader.Rewind(), S_OK);
    EXPECT_EQ(reader.dataChunk.cksize, c.dataSize);

    // Piece sizes that end inside, at and across the I/O buffer's edges.
    const UINT pieces[] = {1, 7, 4093, wave_cases::kIoBufferSize, 3, wave_cases::kIoBufferSize + 1};
    Bytes got;
    size_t next = 0;
    while (got.size() < c.data.size()) {
        // Pieces stop at the file's end, where a short file ends early.
        const UINT want = static_cast<UINT>(std::min<size_t>(pieces[next++ % std::size(pieces)], c.data.size() - got.size()));
        ReadResult piece = ReadSome(reader, want);
        ASSERT_EQ(piece.status, S_OK) << "after " << got.size() << " bytes";
        ASSERT_EQ(piece.bytesRead, want);
        got.insert(got.end(), piece.bytes.begin(), piece.bytes.end());
    }
    EXPECT_EQ(got, c.data);
    if (!c.readsWhole()) {
        EXPECT_EQ(ReadSome(reader, 1).status, E_FAIL);
    }

    // And once more after a rewind from the middle.
    ASSERT_EQ(reader.Rewind(), S_OK);
    ReadResult again = ReadSome(reader, static_cast<UINT>(c.data.size()));
    EXPECT_EQ(again.status, S_OK);
    EXPECT_EQ(again.bytes, c.data);
}

std::vector<WaveCase> OpeningCases() {
    std::vector<WaveCase> opening;
    for (WaveCase& c : wave_cases::WaveCases()) {
        if (c.opens) opening.push_back(std::move(c));
    }
    return opening;
}

std::string CaseName(const ::testing::TestParamInfo<WaveCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Files, WaveReaderCases, ::testing::ValuesIn(wave_cases::WaveCases()), CaseName);
INSTANTIATE_TEST_SUITE_P(Files, WaveReaderData, ::testing::ValuesIn(OpeningCases()), CaseName);

// The reader's life outside the file table.
class WaveReaderLife : public ::testing::Test {
protected:
    wave_test::TempFolder folder_;
    std::string good_ = folder_.Write("good.wav", wave_cases::WaveCases()[0].file);
    std::string bad_ = folder_.Write("bad.wav", Bytes{'R', 'I', 'F', 'F'});
};

TEST_F(WaveReaderLife, NewReaderHoldsNothingAndRefusesToRead) {
    WaveFileReader reader;
    EXPECT_EQ(reader.format, nullptr);
    EXPECT_EQ(reader.file, nullptr);
    UINT bytesRead = 99;
    BYTE buffer[4];
    EXPECT_EQ(reader.Read(4, buffer, &bytesRead), E_FAIL);
    EXPECT_EQ(bytesRead, 0u);
    EXPECT_EQ(reader.Rewind(), E_FAIL);
    EXPECT_EQ(reader.Close(), S_OK);
}

TEST_F(WaveReaderLife, MissingFileFailsToOpen) {
    WaveFileReader reader;
    EXPECT_EQ(reader.Open(folder_.PathOf("missing.wav").c_str()), E_FAIL);
    EXPECT_EQ(reader.Open(nullptr), E_FAIL);
    EXPECT_EQ(reader.file, nullptr);
}

TEST_F(WaveReaderLife, OpeningAgainReplacesFormatAndFile) {
    WaveFileReader reader;
    ASSERT_EQ(reader.Open(good_.c_str()), S_OK);
    ASSERT_EQ(reader.Open(good_.c_str()), S_OK);
    EXPECT_NE(reader.format, nullptr);
    // A failed second Open leaves neither the old format nor the old file.
    EXPECT_EQ(reader.Open(bad_.c_str()), E_FAIL);
    EXPECT_EQ(reader.format, nullptr);
    EXPECT_EQ(reader.file, nullptr);
    EXPECT_EQ(reader.dataChunk.cksize, 0u);
}

TEST_F(WaveReaderLife, CloseKeepsTheFormatAndCanBeRepeated) {
    WaveFileReader reader;
    ASSERT_EQ(reader.Open(good_.c_str()), S_OK);
    EXPECT_EQ(reader.Close(), S_OK);
    EXPECT_EQ(reader.file, nullptr);
    EXPECT_NE(reader.format, nullptr);
    EXPECT_EQ(reader.Close(), S_OK);
    UINT bytesRead = 0;
    BYTE buffer[4];
    EXPECT_EQ(reader.Read(4, buffer, &bytesRead), E_FAIL);
}

TEST_F(WaveReaderLife, BadReadArgumentsAreRefused) {
    WaveFileReader reader;
    ASSERT_EQ(reader.Open(good_.c_str()), S_OK);
    BYTE buffer[4];
    EXPECT_EQ(reader.Read(4, buffer, nullptr), E_FAIL);
    UINT bytesRead = 7;
    EXPECT_EQ(reader.Read(4, nullptr, &bytesRead), E_FAIL);
    EXPECT_EQ(bytesRead, 0u);
    // Nothing was taken by the refused calls.
    EXPECT_EQ(reader.Read(0, nullptr, &bytesRead), S_OK);
    EXPECT_EQ(reader.dataChunk.cksize, wave_cases::WaveCases()[0].dataSize);
}

TEST_F(WaveReaderLife, ReadersGiveBackTheFilesTheyOpened) {
    const std::string other = folder_.Write("other.wav", wave_cases::WaveCases()[0].file);
    {
        WaveFileReader kept, failed, reopened;
        ASSERT_EQ(kept.Open(good_.c_str()), S_OK);
        EXPECT_EQ(failed.Open(bad_.c_str()), E_FAIL);
        EXPECT_FALSE(wave_test::HeldOpen(bad_));
        // Opening another file lets go of the first.
        ASSERT_EQ(reopened.Open(other.c_str()), S_OK);
        ASSERT_EQ(reopened.Open(good_.c_str()), S_OK);
        EXPECT_FALSE(wave_test::HeldOpen(other));
        EXPECT_TRUE(wave_test::HeldOpen(good_));
        ASSERT_EQ(kept.Close(), S_OK);
        EXPECT_TRUE(wave_test::HeldOpen(good_));  // still by `reopened`
    }
    EXPECT_FALSE(wave_test::HeldOpen(good_));
}

}  // namespace
