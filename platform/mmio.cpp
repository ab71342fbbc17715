// Native stand-in for the multimedia file I/O functions (mmio) the sound
// module reads its WAV files with: buffered reading, RIFF chunk navigation and
// direct access to the I/O buffer.
//
// It keeps the I/O buffer the way Windows does, so that code which walks the
// buffer itself (mmioGetInfo, mmioAdvance, mmioSetInfo) sees the same picture:
//   pchBuffer .. pchEndRead  the bytes of the file from lBufOffset on
//   pchNext                  the next byte to hand out; the logical file
//                            position is lBufOffset + (pchNext - pchBuffer)
//   lDiskOffset              where the file itself stands
// Only reading is supported: the modules never write through mmio, and a
// request to write, to create or to use an I/O procedure of one's own is
// refused rather than half served.
#include "control_mmio.h"
#include "native_path.h"

#include <mmsystem.h>
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

struct HMMIO__ {
    int fd = -1;
    std::string path;  // as opened, after translation
    MMIOINFO info{};  // what mmioGetInfo hands out; pchBuffer is null when unbuffered
    LONG position = 0;  // logical position of an unbuffered file
};

namespace {

constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');

// Handles given out and not closed yet: a call with anything else is refused
// instead of touching freed memory.
std::mutex handlesLock;
std::set<HMMIO> openHandles;

bool IsOpen(HMMIO file) {
    std::lock_guard<std::mutex> guard(handlesLock);
    return file != nullptr && openHandles.count(file) != 0;
}

bool IsBuffered(HMMIO file) { return file->info.pchBuffer != nullptr; }

LONG BufferedBytes(HMMIO file) { return static_cast<LONG>(file->info.pchEndRead - file->info.pchBuffer); }

LONG LogicalPosition(HMMIO file) {
    if (!IsBuffered(file)) return file->position;
    return file->info.lBufOffset + static_cast<LONG>(file->info.pchNext - file->info.pchBuffer);
}

// Reads up to `count` bytes at `offset` straight from the file; -1 on error.
// One positioned read per refill: a seek first would double the system
// calls of reading a sound.
LONG ReadAt(HMMIO file, LONG offset, char* destination, LONG count) {
    if (offset < 0) return -1;
    LONG total = 0;
    while (total < count) {
        const ssize_t got = ::pread(file->fd, destination + total, static_cast<size_t>(count - total),
                                    static_cast<off_t>(offset) + total);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        total += static_cast<LONG>(got);
    }
    return total;
}

// Fills the I/O buffer with the file's bytes from `offset` on. At the end of
// the file the buffer comes back empty, which is not an error.
bool FillBuffer(HMMIO file, LONG offset) {
    MMIOINFO& info = file->info;
    const LONG got = ReadAt(file, offset, info.pchBuffer, info.cchBuffer);
    info.lBufOffset = offset;
    info.pchNext = info.pchBuffer;
    if (got < 0) {
        info.pchEndRead = info.pchBuffer;
        info.lDiskOffset = offset;
        return false;
    }
    info.pchEndRead = info.pchBuffer + got;
    info.lDiskOffset = offset + got;
    return true;
}

// Takes over the next-byte pointer of a caller's copy of the buffer state,
// as long as it still points into the valid part of the buffer.
bool TakeNextPointer(HMMIO file, LPCMMIOINFO from) {
    MMIOINFO& info = file->info;
    if (from->pchBuffer != info.pchBuffer) return false;
    if (from->pchNext < info.pchBuffer || from->pchNext > info.pchEndRead) return false;
    info.pchNext = from->pchNext;
    std::memcpy(info.adwInfo, from->adwInfo, sizeof info.adwInfo);
    return true;
}

void CopyOut(HMMIO file, LPMMIOINFO to) {
    *to = file->info;
    to->hmmio = file;
}

LONG Seek(HMMIO file, int64_t target) {
    if (target < 0 || target > LONG_MAX) return -1;
    const LONG position = static_cast<LONG>(target);
    if (!IsBuffered(file)) {
        file->position = position;
        return position;
    }
    MMIOINFO& info = file->info;
    if (position >= info.lBufOffset && position <= info.lBufOffset + BufferedBytes(file)) {
        info.pchNext = info.pchBuffer + (position - info.lBufOffset);
        return position;
    }
    // Outside the buffer: drop its contents; the next read fills it from
    // here. Like a seek on a Windows file, a position past the end is fine.
    info.lBufOffset = position;
    info.lDiskOffset = position;
    info.pchNext = info.pchEndRead = info.pchBuffer;
    return position;
}

LONG Read(HMMIO file, char* destination, LONG count) {
    if (!IsBuffered(file)) {
        const LONG got = ReadAt(file, file->position, destination, count);
        if (got > 0) file->position += got;
        return got;
    }
    MMIOINFO& info = file->info;
    // First what the buffer holds.
    LONG total = static_cast<LONG>(info.pchEndRead - info.pchNext);
    if (total > count) total = count;
    std::memcpy(destination, info.pchNext, static_cast<size_t>(total));
    info.pchNext += total;
    if (total == count) return total;

    const LONG position = LogicalPosition(file);
    if (count > info.cchBuffer) {
        // A read larger than the buffer takes the rest straight from the
        // file and leaves the buffer empty where it ended.
        const LONG got = ReadAt(file, position, destination + total, count - total);
        if (got < 0) return -1;
        total += got;
        info.lBufOffset = info.lDiskOffset = position + got;
        info.pchNext = info.pchEndRead = info.pchBuffer;
        return total;
    }
    // A smaller one refills the buffer once and takes the rest from it.
    if (!FillBuffer(file, position)) return -1;
    LONG run = static_cast<LONG>(info.pchEndRead - info.pchNext);
    if (run > count - total) run = count - total;
    std::memcpy(destination + total, info.pchNext, static_cast<size_t>(run));
    info.pchNext += run;
    return total + run;
}

// Reads exactly `count` bytes at the logical position.
bool ReadExactly(HMMIO file, void* destination, LONG count) {
    return Read(file, static_cast<char*>(destination), count) == count;
}

DWORD LittleEndian32(const unsigned char* bytes) {
    return DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
}

}  // namespace

extern "C" {

HMMIO WINAPI mmioOpenA(LPSTR fileName, LPMMIOINFO info, DWORD flags) {
    // Read-only access (MMIO_READ is 0) with or without a buffer; the sharing
    // flags (0x10 to 0x70) change nothing for a reader.
    constexpr DWORD kAccepted = MMIO_ALLOCBUF | 0x00000070;
    UINT error = 0;
    HMMIO file = nullptr;
    if (fileName == nullptr || (flags & ~kAccepted) != 0 ||
        (info != nullptr && (info->pIOProc != nullptr || info->fccIOProc != 0 || info->pchBuffer != nullptr))) {
        error = MMIOERR_CANNOTOPEN;
    } else {
        const std::string path = NativePath(fileName);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status;
        if (fd < 0) {
            error = errno == ENOENT || errno == ENOTDIR ? MMIOERR_FILENOTFOUND : MMIOERR_CANNOTOPEN;
        } else if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
            ::close(fd);
            error = MMIOERR_CANNOTOPEN;
        } else {
            file = new HMMIO__;
            file->fd = fd;
            file->path = path;
            file->info.dwFlags = flags;
            if (flags & MMIO_ALLOCBUF) {
                const LONG size = info != nullptr && info->cchBuffer > 0 ? info->cchBuffer : MMIO_DEFAULTBUFFER;
                char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
                if (buffer == nullptr) {
                    ::close(fd);
                    delete file;
                    file = nullptr;
                    error = MMIOERR_OUTOFMEMORY;
                } else {
                    file->info.cchBuffer = size;
                    file->info.pchBuffer = file->info.pchNext = file->info.pchEndRead = buffer;
                    file->info.pchEndWrite = buffer + size;
                }
            }
        }
    }
    if (file != nullptr) {
        file->info.hmmio = file;
        std::lock_guard<std::mutex> guard(handlesLock);
        openHandles.insert(file);
    }
    if (info != nullptr) {
        info->wErrorRet = error;
        if (file != nullptr) info->hmmio = file;
    }
    return file;
}

MMRESULT WINAPI mmioClose(HMMIO file, UINT) {
    {
        std::lock_guard<std::mutex> guard(handlesLock);
        if (file == nullptr || openHandles.erase(file) == 0) return MMSYSERR_INVALHANDLE;
    }
    const bool closed = ::close(file->fd) == 0;
    std::free(file->info.pchBuffer);
    delete file;
    return closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

LONG WINAPI mmioRead(HMMIO file, HPSTR buffer, LONG count) {
    if (!IsOpen(file) || count < 0 || (buffer == nullptr && count > 0)) return -1;
    return Read(file, buffer, count);
}

LONG WINAPI mmioSeek(HMMIO file, LONG offset, int origin) {
    if (!IsOpen(file)) return -1;
    int64_t base = 0;
    switch (origin) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = LogicalPosition(file); break;
        case SEEK_END: {
            struct stat status;
            if (::fstat(file->fd, &status) != 0) return -1;
            base = status.st_size;
            break;
        }
        default: return -1;
    }
    return Seek(file, base + offset);
}

MMRESULT WINAPI mmioDescend(HMMIO file, LPMMCKINFO chunk, const MMCKINFO* parent, UINT flags) {
    if (!IsOpen(file) || chunk == nullptr) return MMSYSERR_INVALPARAM;
    FOURCC wantedId = 0;
    bool wantForm = false;
    if (flags & MMIO_FINDCHUNK) {
        wantedId = chunk->ckid;
    } else if (flags & MMIO_FINDRIFF) {
        wantedId = kRiff;
        wantForm = true;
    } else if (flags & MMIO_FINDLIST) {
        wantedId = kList;
        wantForm = true;
    }
    const bool searching = (flags & (MMIO_FINDCHUNK | MMIO_FINDRIFF | MMIO_FINDLIST)) != 0;

    // Offsets and sizes are 32-bit quantities that add up with wrap-round,
    // as they do on Windows. The parent is looked at only where the descent
    // starts: at or past its end there is nothing to descend into, but a
    // search that started inside runs on until it finds its chunk or the
    // file ends.
    DWORD position = static_cast<DWORD>(LogicalPosition(file));
    if (parent != nullptr && position >= parent->dwDataOffset + parent->cksize) return MMIOERR_CHUNKNOTFOUND;

    // A size that wraps round can lead the search back to a chunk it has
    // already passed; it would go round for ever.
    std::set<DWORD> visited;
    for (;;) {
        // Where no chunk is found, the file is left where the header that
        // could not be read would have started.
        if (static_cast<LONG>(position) < 0 || !visited.insert(position).second) return MMIOERR_CHUNKNOTFOUND;
        Seek(file, position);
        unsigned char header[8];
        if (!ReadExactly(file, header, 8)) {
            Seek(file, position);
            return MMIOERR_CHUNKNOTFOUND;
        }
        const FOURCC id = LittleEndian32(header);
        const DWORD size = LittleEndian32(header + 4);
        const DWORD dataOffset = position + 8;

        const bool isForm = id == kRiff || id == kList;
        bool match = !searching || id == wantedId;
        FOURCC form = 0;
        if (match && isForm) {
            // A form type cut short by the end of the file is not an error:
            // the bytes that are there replace the first bytes of fccType.
            unsigned char type[4];
            std::memcpy(type, &chunk->fccType, 4);
            Read(file, reinterpret_cast<char*>(type), 4);
            form = LittleEndian32(type);
            if (wantForm && form != chunk->fccType) match = false;
        }
        if (match) {
            chunk->ckid = id;
            chunk->cksize = size;
            chunk->fccType = form;
            chunk->dwDataOffset = dataOffset;
            chunk->dwFlags = 0;
            Seek(file, static_cast<int64_t>(dataOffset) + (isForm ? 4 : 0));
            return MMSYSERR_NOERROR;
        }
        // Skip the chunk and its pad byte.
        position = dataOffset + size + (size & 1);
    }
}

MMRESULT WINAPI mmioAscend(HMMIO file, LPMMCKINFO chunk, UINT) {
    if (!IsOpen(file) || chunk == nullptr) return MMSYSERR_INVALPARAM;
    // A changed size would have to be written back, which a file open for
    // reading cannot; Windows then leaves the file where it stands and still
    // reports success.
    if (chunk->dwFlags & MMIO_DIRTY) return MMSYSERR_NOERROR;
    // Past the chunk and its pad byte, in 32-bit arithmetic. A position
    // beyond 2 GB cannot be reached: the file stays where it is, and that
    // too is reported as success, as Windows does.
    const DWORD end = chunk->dwDataOffset + chunk->cksize + (chunk->cksize & 1);
    if (static_cast<LONG>(end) >= 0) Seek(file, end);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mmioGetInfo(HMMIO file, LPMMIOINFO info, UINT) {
    if (!IsOpen(file)) return MMSYSERR_INVALHANDLE;
    if (info == nullptr) return MMSYSERR_INVALPARAM;
    CopyOut(file, info);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI mmioSetInfo(HMMIO file, LPCMMIOINFO info, UINT) {
    if (!IsOpen(file)) return MMSYSERR_INVALHANDLE;
    if (info == nullptr) return MMSYSERR_INVALPARAM;
    if (!IsBuffered(file)) return MMSYSERR_NOERROR;
    return TakeNextPointer(file, info) ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
}

MMRESULT WINAPI mmioAdvance(HMMIO file, LPMMIOINFO info, UINT flags) {
    if (!IsOpen(file)) return MMSYSERR_INVALHANDLE;
    if (!IsBuffered(file)) return MMIOERR_UNBUFFERED;
    if (flags != MMIO_READ) return MMIOERR_CANNOTWRITE;
    if (info != nullptr && !TakeNextPointer(file, info)) return MMSYSERR_INVALPARAM;
    // Reading goes on where the file stands, after the bytes of the current
    // buffer, whatever of them the caller has taken. At the end of the file
    // the buffer comes back empty (pchNext == pchEndRead) and the call still
    // succeeds.
    const bool filled = FillBuffer(file, file->info.lDiskOffset);
    if (info != nullptr) CopyOut(file, info);
    return filled ? MMSYSERR_NOERROR : MMIOERR_CANNOTREAD;
}

int TwPlatformOpenMmioCount(void) {
    std::lock_guard<std::mutex> guard(handlesLock);
    return static_cast<int>(openHandles.size());
}

BOOL TwPlatformIsMmioFileOpen(const char* path) {
    if (path == nullptr) return FALSE;
    const std::string wanted = NativePath(path);
    std::lock_guard<std::mutex> guard(handlesLock);
    for (HMMIO file : openHandles) {
        if (file->path == wanted) return TRUE;
    }
    return FALSE;
}

}  // extern "C"
