// The multimedia file I/O calls the reader relies on, one level below it.
// Natively these are the stand-ins; in the Windows build the same tests run
// against the real ones under wine, which is how we know the stand-ins agree.
#include "wave_cases.h"
#include "wave_test_support.h"

#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace wave_cases;

constexpr FOURCC Id(const char (&text)[5]) { return mmioFOURCC(text[0], text[1], text[2], text[3]); }

// RIFF "WAVE" at 0 (size 4 + 26 + 16 + 1024 + 8 = ...), holding:
//   12: "odd " chunk, 5 bytes + pad            -> data 20, next at 26
//   26: LIST "INFO" with "ISFT" 3 bytes + pad  -> data 34, next at 50
//   50: "data", 1024 bytes                     -> data 58, next at 1082
// then a second RIFF form "AVI " at 1082 (outside the first).
class MmioFile : public ::testing::Test {
protected:
    void SetUp() override {
        const Bytes list = Join({Bytes{'I', 'N', 'F', 'O'}, ChunkOf("ISFT", Pattern(3, 1))});
        data_ = Pattern(1024, 2);
        const Bytes bytes = Join({WaveOf({ChunkOf("odd ", Pattern(5, 3)), ChunkOf("LIST", list), ChunkOf("data", data_)}),
                                  RiffOf("RIFF", "AVI ", {ChunkOf("avih", Pattern(4, 4))})});
        fileSize_ = static_cast<LONG>(bytes.size());
        file_ = mmioOpenA(const_cast<LPSTR>(folder_.Write("riff.wav", bytes).c_str()), nullptr, MMIO_ALLOCBUF);
        ASSERT_NE(file_, nullptr);
        ASSERT_EQ(mmioDescend(file_, &riff_, nullptr, 0), 0u);
    }
    void TearDown() override {
        if (file_ != nullptr) {
            EXPECT_EQ(mmioClose(file_, 0), 0u);
        }
    }
    LONG Position() { return mmioSeek(file_, 0, SEEK_CUR); }
    MMRESULT Find(MMCKINFO& chunk, const char (&id)[5], const MMCKINFO* parent) {
        chunk = MMCKINFO{};
        chunk.ckid = Id(id);
        return mmioDescend(file_, &chunk, parent, MMIO_FINDCHUNK);
    }

    wave_test::TempFolder folder_;
    Bytes data_;
    LONG fileSize_ = 0;
    HMMIO file_ = nullptr;
    MMCKINFO riff_{};
};

TEST_F(MmioFile, DescendIntoRiffReadsHeaderAndFormType) {
    EXPECT_EQ(riff_.ckid, FOURCC_RIFF);
    EXPECT_EQ(riff_.cksize, 4u + 14 + 24 + 8 + 1024);
    EXPECT_EQ(riff_.fccType, Id("WAVE"));
    EXPECT_EQ(riff_.dwDataOffset, 8u);  // the form type's position
    EXPECT_EQ(riff_.dwFlags, 0u);
    EXPECT_EQ(Position(), 12);
}

TEST_F(MmioFile, DescendWithoutFlagsTakesTheChunkWhereTheFileStands) {
    MMCKINFO chunk{};
    ASSERT_EQ(mmioDescend(file_, &chunk, &riff_, 0), 0u);
    EXPECT_EQ(chunk.ckid, Id("odd "));
    EXPECT_EQ(chunk.cksize, 5u);
    EXPECT_EQ(chunk.dwDataOffset, 20u);
    EXPECT_EQ(Position(), 20);

    // Ascending skips the odd chunk's pad byte.
    ASSERT_EQ(mmioAscend(file_, &chunk, 0), 0u);
    EXPECT_EQ(Position(), 26);
    MMCKINFO list{};
    ASSERT_EQ(mmioDescend(file_, &list, &riff_, 0), 0u);
    EXPECT_EQ(list.ckid, FOURCC_LIST);
    EXPECT_EQ(list.fccType, Id("INFO"));
    EXPECT_EQ(list.dwDataOffset, 34u);
    EXPECT_EQ(Position(), 38);  // after the list type
}

TEST_F(MmioFile, FindChunkSkipsOtherChunksWithTheirPadBytes) {
    MMCKINFO chunk{};
    ASSERT_EQ(Find(chunk, "data", &riff_), 0u);
    EXPECT_EQ(chunk.ckid, Id("data"));
    EXPECT_EQ(chunk.cksize, 1024u);
    EXPECT_EQ(chunk.dwDataOffset, 58u);
    EXPECT_EQ(chunk.dwFlags, 0u);
    EXPECT_EQ(Position(), 58);
}

TEST_F(MmioFile, FindChunkInsideAList) {
    MMCKINFO list{}, chunk{};
    ASSERT_EQ(Find(list, "LIST", &riff_), 0u);
    ASSERT_EQ(Find(chunk, "ISFT", &list), 0u);
    EXPECT_EQ(chunk.cksize, 3u);
    EXPECT_EQ(chunk.dwDataOffset, 46u);
    // Ascend out of both: the list ends at 50.
    ASSERT_EQ(mmioAscend(file_, &chunk, 0), 0u);
    ASSERT_EQ(mmioAscend(file_, &list, 0), 0u);
    EXPECT_EQ(Position(), 50);
}

TEST_F(MmioFile, FindListAndFindRiffCompareTheFormType) {
    MMCKINFO list{};
    list.fccType = Id("INFO");
    ASSERT_EQ(mmioDescend(file_, &list, &riff_, MMIO_FINDLIST), 0u);
    EXPECT_EQ(list.ckid, FOURCC_LIST);
    EXPECT_EQ(list.dwDataOffset, 34u);

    ASSERT_EQ(mmioSeek(file_, 12, SEEK_SET), 12);
    MMCKINFO other{};
    other.fccType = Id("adtl");
    EXPECT_EQ(mmioDescend(file_, &other, &riff_, MMIO_FINDLIST), (MMRESULT)MMIOERR_CHUNKNOTFOUND);

    // At the top level: the second form, after ascending out of the first.
    ASSERT_EQ(mmioAscend(file_, &riff_, 0), 0u);
    MMCKINFO avi{};
    avi.fccType = Id("AVI ");
    ASSERT_EQ(mmioDescend(file_, &avi, nullptr, MMIO_FINDRIFF), 0u);
    EXPECT_EQ(avi.ckid, FOURCC_RIFF);
    EXPECT_EQ(avi.dwDataOffset, 1090u);
}

// The parent bounds only where a descent starts; a search that started
// inside it runs on until the chunk or the end of the file is reached.
TEST_F(MmioFile, TheParentBoundsOnlyTheStartOfASearch) {
    MMCKINFO chunk{};
    ASSERT_EQ(Find(chunk, "RIFF", &riff_), 0u);
    EXPECT_EQ(chunk.fccType, Id("AVI "));
    EXPECT_EQ(chunk.dwDataOffset, 1090u);

    ASSERT_EQ(mmioSeek(file_, 1082, SEEK_SET), 1082);
    EXPECT_EQ(Find(chunk, "RIFF", &riff_), (MMRESULT)MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(Position(), 1082);
    EXPECT_EQ(mmioDescend(file_, &chunk, &riff_, 0), (MMRESULT)MMIOERR_CHUNKNOTFOUND);
}

// Not found: the file stands where the header that could not be read
// would have started.
TEST_F(MmioFile, SearchesEndAtTheEndOfTheFile) {
    MMCKINFO chunk{};
    EXPECT_EQ(Find(chunk, "avih", &riff_), (MMRESULT)MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(Position(), fileSize_);
    ASSERT_EQ(mmioSeek(file_, 12, SEEK_SET), 12);
    EXPECT_EQ(Find(chunk, "none", nullptr), (MMRESULT)MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(Position(), fileSize_);
    ASSERT_EQ(mmioSeek(file_, fileSize_ - 3, SEEK_SET), fileSize_ - 3);
    EXPECT_EQ(mmioDescend(file_, &chunk, nullptr, 0), (MMRESULT)MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(Position(), fileSize_ - 3);
}

// Ascending moves past the chunk even beyond the end of the file; a chunk
// end beyond 2 GB cannot be reached, and the file stays where it was.
TEST_F(MmioFile, AscendPastTheEndOfTheFile) {
    MMCKINFO chunk{};
    chunk.dwDataOffset = 58;
    chunk.cksize = 5000;
    EXPECT_EQ(mmioAscend(file_, &chunk, 0), 0u);
    EXPECT_EQ(Position(), 5058);
    chunk.cksize = 0x7FFFFFF0;
    EXPECT_EQ(mmioAscend(file_, &chunk, 0), 0u);
    EXPECT_EQ(Position(), 5058);
}

TEST_F(MmioFile, SeekReturnsTheNewPositionOrMinusOne) {
    EXPECT_EQ(mmioSeek(file_, 100, SEEK_SET), 100);
    EXPECT_EQ(mmioSeek(file_, -40, SEEK_CUR), 60);
    // Only to the end itself: wine's seek from the end with an offset
    // counts the offset the wrong way.
    EXPECT_EQ(mmioSeek(file_, 0, SEEK_END), fileSize_);
    EXPECT_EQ(mmioSeek(file_, -2, SEEK_CUR), fileSize_ - 2);
    EXPECT_EQ(mmioSeek(file_, -1, SEEK_SET), -1);
    EXPECT_EQ(Position(), fileSize_ - 2);  // a refused seek does not move
}

TEST_F(MmioFile, ReadReturnsTheCountReadAndZeroAtTheEnd) {
    MMCKINFO chunk{};
    ASSERT_EQ(Find(chunk, "data", &riff_), 0u);
    Bytes got(1024);
    ASSERT_EQ(mmioRead(file_, reinterpret_cast<HPSTR>(got.data()), 1024), 1024);
    EXPECT_EQ(got, data_);

    ASSERT_EQ(mmioSeek(file_, fileSize_ - 3, SEEK_SET), fileSize_ - 3);
    char tail[10];
    EXPECT_EQ(mmioRead(file_, tail, 10), 3);
    EXPECT_EQ(mmioRead(file_, tail, 10), 0);
}

// Direct access to the I/O buffer, the way the reader copies sound data.
TEST_F(MmioFile, DirectBufferAccessWalksTheFileThroughRefills) {
    MMCKINFO chunk{};
    ASSERT_EQ(Find(chunk, "data", &riff_), 0u);
    MMIOINFO io{};
    ASSERT_EQ(mmioGetInfo(file_, &io, 0), 0u);
    EXPECT_EQ(io.cchBuffer, (LONG)kIoBufferSize);
    // pchNext stands for the file position.
    EXPECT_EQ(io.lBufOffset + (io.pchNext - io.pchBuffer), 58);

    Bytes got;
    while (got.size() < data_.size()) {
        if (io.pchNext >= io.pchEndRead) {
            ASSERT_EQ(mmioAdvance(file_, &io, MMIO_READ), 0u);
            ASSERT_LT(io.pchNext, io.pchEndRead);
        }
        got.push_back(static_cast<uint8_t>(*io.pchNext++));
    }
    EXPECT_EQ(got, data_);
    ASSERT_EQ(mmioSetInfo(file_, &io, 0), 0u);
    EXPECT_EQ(Position(), 58 + 1024);

    // At the end of the file the buffer comes back empty and that is no error.
    ASSERT_EQ(mmioSeek(file_, 0, SEEK_END), fileSize_);
    ASSERT_EQ(mmioGetInfo(file_, &io, 0), 0u);
    while (io.pchNext < io.pchEndRead) ++io.pchNext;
    EXPECT_EQ(mmioAdvance(file_, &io, MMIO_READ), 0u);
    EXPECT_EQ(io.pchNext, io.pchEndRead);
    EXPECT_EQ(mmioSetInfo(file_, &io, 0), 0u);
}

TEST(MmioOpen, MissingFileGivesNoHandle) {
    wave_test::TempFolder folder;
    EXPECT_EQ(mmioOpenA(const_cast<LPSTR>(folder.PathOf("missing.wav").c_str()), nullptr, MMIO_ALLOCBUF), nullptr);
    MMIOINFO info{};
    EXPECT_EQ(mmioOpenA(const_cast<LPSTR>(folder.PathOf("missing.wav").c_str()), &info, MMIO_ALLOCBUF), nullptr);
    EXPECT_EQ(info.wErrorRet, (UINT)MMIOERR_FILENOTFOUND);
}

// A file several buffers long, read every way the reader and the I/O
// system's own callers read.
class MmioLargeFile : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = Pattern(5 * kIoBufferSize + 77, 9);
        file_ = mmioOpenA(const_cast<LPSTR>(folder_.Write("big.bin", bytes_).c_str()), nullptr, MMIO_ALLOCBUF);
        ASSERT_NE(file_, nullptr);
        ASSERT_EQ(mmioGetInfo(file_, &io_, 0), 0u);
    }
    void TearDown() override {
        if (file_ != nullptr) {
            EXPECT_EQ(mmioClose(file_, 0), 0u);
        }
    }
    LONG Offset(HPSTR pointer) const { return io_.lBufOffset + static_cast<LONG>(pointer - io_.pchBuffer); }

    wave_test::TempFolder folder_;
    Bytes bytes_;
    HMMIO file_ = nullptr;
    MMIOINFO io_{};
};

TEST_F(MmioLargeFile, ANewFileHasAnEmptyBufferOfTheDefaultSize) {
    EXPECT_EQ(io_.cchBuffer, (LONG)kIoBufferSize);
    EXPECT_EQ(io_.pchNext, io_.pchBuffer);
    EXPECT_EQ(io_.pchEndRead, io_.pchBuffer);
    EXPECT_EQ(io_.pchEndWrite, io_.pchBuffer + kIoBufferSize);
    EXPECT_EQ(io_.lBufOffset, 0);
    EXPECT_EQ(io_.lDiskOffset, 0);
    EXPECT_EQ(io_.dwFlags, (DWORD)MMIO_ALLOCBUF);
}

TEST_F(MmioLargeFile, EveryByteArrivesOnceThroughReadAndThroughTheBuffer) {
    Bytes viaRead(bytes_.size() + 10);
    EXPECT_EQ(mmioRead(file_, reinterpret_cast<HPSTR>(viaRead.data()), static_cast<LONG>(viaRead.size())),
              static_cast<LONG>(bytes_.size()));
    viaRead.resize(bytes_.size());
    EXPECT_EQ(viaRead, bytes_);

    ASSERT_EQ(mmioSeek(file_, 0, SEEK_SET), 0);
    ASSERT_EQ(mmioGetInfo(file_, &io_, 0), 0u);
    Bytes viaBuffer;
    for (;;) {
        if (io_.pchNext >= io_.pchEndRead) {
            ASSERT_EQ(mmioAdvance(file_, &io_, MMIO_READ), 0u);
            if (io_.pchNext >= io_.pchEndRead) break;
            EXPECT_LE(io_.pchEndRead - io_.pchBuffer, io_.cchBuffer);
        }
        viaBuffer.insert(viaBuffer.end(), io_.pchNext, io_.pchEndRead);
        io_.pchNext = io_.pchEndRead;
    }
    EXPECT_EQ(viaBuffer, bytes_);
    ASSERT_EQ(mmioSetInfo(file_, &io_, 0), 0u);
}

// mmioAdvance reads on where the file stands, after the whole buffer, not
// from the caller's next byte.
TEST_F(MmioLargeFile, AdvanceGoesOnAfterTheBuffer) {
    ASSERT_EQ(mmioAdvance(file_, &io_, MMIO_READ), 0u);
    EXPECT_EQ(io_.lBufOffset, 0);
    EXPECT_EQ(io_.lDiskOffset, (LONG)kIoBufferSize);
    io_.pchNext = io_.pchBuffer + 100;
    ASSERT_EQ(mmioAdvance(file_, &io_, MMIO_READ), 0u);
    EXPECT_EQ(io_.lBufOffset, (LONG)kIoBufferSize);
    EXPECT_EQ(io_.lDiskOffset, 2 * (LONG)kIoBufferSize);
    EXPECT_EQ(io_.pchNext, io_.pchBuffer);
    EXPECT_EQ(static_cast<uint8_t>(*io_.pchNext), bytes_[kIoBufferSize]);
    ASSERT_EQ(mmioSetInfo(file_, &io_, 0), 0u);
    EXPECT_EQ(mmioSeek(file_, 0, SEEK_CUR), (LONG)kIoBufferSize);
}

// A read larger than the buffer bypasses it and leaves it empty at the new
// position; a smaller one fills it.
TEST_F(MmioLargeFile, ReadsLargerThanTheBufferBypassIt) {
    Bytes got(kIoBufferSize + 8);
    ASSERT_EQ(mmioRead(file_, reinterpret_cast<HPSTR>(got.data()), kIoBufferSize + 8), (LONG)kIoBufferSize + 8);
    ASSERT_EQ(mmioGetInfo(file_, &io_, 0), 0u);
    EXPECT_EQ(io_.lBufOffset, (LONG)kIoBufferSize + 8);
    EXPECT_EQ(io_.pchNext, io_.pchEndRead);

    ASSERT_EQ(mmioRead(file_, reinterpret_cast<HPSTR>(got.data()), 10), 10);
    ASSERT_EQ(mmioGetInfo(file_, &io_, 0), 0u);
    EXPECT_EQ(io_.lBufOffset, (LONG)kIoBufferSize + 8);
    EXPECT_EQ(io_.lDiskOffset, 2 * (LONG)kIoBufferSize + 8);
    EXPECT_EQ(Offset(io_.pchNext), (LONG)kIoBufferSize + 18);
    EXPECT_EQ(got[0], bytes_[kIoBufferSize + 8]);
}

TEST_F(MmioLargeFile, BufferStateOutsideTheBufferIsRefused) {
    ASSERT_EQ(mmioAdvance(file_, &io_, MMIO_READ), 0u);
    MMIOINFO bad = io_;
    bad.pchNext = io_.pchEndRead + 1;
    EXPECT_EQ(mmioSetInfo(file_, &bad, 0), (MMRESULT)MMSYSERR_INVALPARAM);
    bad.pchNext = io_.pchBuffer - 1;
    EXPECT_EQ(mmioSetInfo(file_, &bad, 0), (MMRESULT)MMSYSERR_INVALPARAM);
    io_.pchNext = io_.pchBuffer + 1000;
    EXPECT_EQ(mmioSetInfo(file_, &io_, 0), 0u);
    EXPECT_EQ(mmioSeek(file_, 0, SEEK_CUR), 1000);
    EXPECT_EQ(mmioGetInfo(nullptr, &io_, 0), (MMRESULT)MMSYSERR_INVALHANDLE);
}

}  // namespace
