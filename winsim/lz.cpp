// LZ expansion: LZOpenFileA, LZCopy and LZClose over winsim's files. A file
// that begins with the SZDD signature reads as its expanded content, decoded
// by libmspack; any other file reads unchanged.
//
// The model follows the NT and 95 lz32 as the installer uses it: OF_READ for
// the source and OF_CREATE for the destination, each opened through OpenFile
// with its 128-byte OFSTRUCT path, and opened again under the compressed name
// ("file.ex_") when the first open fails, for either style. LZ handles are
// small integers dealt out from 0, each holding a winsim file handle, so open
// LZ files take part in sharing and keep their files from being deleted. Left
// out: LZRead, LZSeek, the other OpenFile styles, and OpenFile's search of the
// Windows and system directories and PATH for a relative name to read (here
// only the current directory counts).
#include "internal.h"

#include <mspack.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <memory>

namespace winsim {
namespace {

constexpr char kSzddSignature[8] = {'S', 'Z', 'D', 'D', '\x88', '\xF0', '\x27', '\x33'};
constexpr size_t kSzddHeaderSize = 14;
static_assert(sizeof kSzddSignature + 1 + 1 + 4 == kSzddHeaderSize,
              "signature, method, last character, expanded size");

struct LzFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool create = false;      // opened with OF_CREATE: a destination
    bool compressed = false;  // a source in the SZDD format
    std::int64_t position = 0;
};

std::map<INT, LzFile> &Files() {
    static std::map<INT, LzFile> files;
    return files;
}

LzFile *Find(INT handle) {
    auto it = Files().find(handle);
    return it == Files().end() ? nullptr : &it->second;
}

// The file an LZ handle holds, for the call log; empty for no handle.
std::string PathOf(INT handle) {
    const LzFile *file = Find(handle);
    return file ? detail::PathOfFileHandle(file->file) : std::string();
}

INT NewHandle(const LzFile &file) {
    INT handle = 0;
    while (Files().count(handle)) ++handle;
    Files()[handle] = file;
    return handle;
}

bool ReadAt(int fd, std::int64_t offset, char *buffer, size_t size, size_t *got) {
    *got = 0;
    while (*got < size) {
        const ssize_t n =
            ::pread(fd, buffer + *got, size - *got, static_cast<off_t>(offset + *got));
        if (n < 0) return false;
        if (n == 0) break;
        *got += static_cast<size_t>(n);
    }
    return true;
}

bool WriteAt(int fd, std::int64_t offset, const char *buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pwrite(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// ---- libmspack's view of winsim's files ------------------------------------------
// libmspack opens files by name through an mspack_system. Here the "name" is
// the address of a Stream over a host descriptor, so the decoder reads and
// writes the files that the LZ handles hold.

// The decoder hands over its output a byte or a few at a time: what it
// writes is gathered in `pending` and goes to the file in large pieces.
struct Stream {
    int fd = -1;
    std::int64_t position = 0;
    std::int64_t written = 0;
    bool failed = false;  // a write failed (the disk is full)
    std::string pending;  // written bytes not yet on disk, from `position` on
};

constexpr size_t kFlushSize = 64 * 1024;

bool Flush(Stream *stream) {
    if (stream->pending.empty()) return true;
    const bool ok = WriteAt(stream->fd, stream->position, stream->pending.data(), stream->pending.size());
    stream->position += static_cast<std::int64_t>(stream->pending.size());
    stream->pending.clear();
    if (!ok) stream->failed = true;
    return ok;
}

Stream *AsStream(mspack_file *file) { return reinterpret_cast<Stream *>(file); }

mspack_file *StreamOpen(mspack_system *, const char *name, int) {
    return reinterpret_cast<mspack_file *>(const_cast<char *>(name));
}
void StreamClose(mspack_file *) {}
int StreamRead(mspack_file *file, void *buffer, int bytes) {
    Stream *stream = AsStream(file);
    if (!Flush(stream)) return -1;
    size_t got = 0;
    if (!ReadAt(stream->fd, stream->position, static_cast<char *>(buffer),
                static_cast<size_t>(bytes), &got))
        return -1;
    stream->position += static_cast<std::int64_t>(got);
    return static_cast<int>(got);
}
int StreamWrite(mspack_file *file, void *buffer, int bytes) {
    Stream *stream = AsStream(file);
    if (stream->failed || bytes < 0) return -1;
    if (stream->pending.capacity() < kFlushSize) stream->pending.reserve(kFlushSize);
    if (bytes == 1)
        stream->pending.push_back(*static_cast<const char *>(buffer));  // the usual case
    else
        stream->pending.append(static_cast<const char *>(buffer), static_cast<size_t>(bytes));
    stream->written += bytes;
    if (stream->pending.size() >= kFlushSize && !Flush(stream)) return -1;
    return bytes;
}
int StreamSeek(mspack_file *file, off_t offset, int mode) {
    Stream *stream = AsStream(file);
    if (!Flush(stream)) return -1;
    std::int64_t base = 0;
    if (mode == MSPACK_SYS_SEEK_CUR) {
        base = stream->position;
    } else if (mode == MSPACK_SYS_SEEK_END) {
        const off_t end = ::lseek(stream->fd, 0, SEEK_END);
        if (end < 0) return -1;
        base = end;
    }
    if (base + offset < 0) return -1;
    stream->position = base + offset;
    return 0;
}
off_t StreamTell(mspack_file *file) {
    const Stream *stream = AsStream(file);
    return static_cast<off_t>(stream->position + static_cast<std::int64_t>(stream->pending.size()));
}
void StreamMessage(mspack_file *, const char *, ...) {}
void *StreamAlloc(mspack_system *, size_t bytes) { return std::malloc(bytes); }
void StreamFree(void *block) { std::free(block); }
void StreamCopy(void *from, void *to, size_t bytes) { std::memmove(to, from, bytes); }

mspack_system *StreamSystem() {
    static mspack_system system = {StreamOpen, StreamClose, StreamRead,    StreamWrite,
                                   StreamSeek, StreamTell,  StreamMessage, StreamAlloc,
                                   StreamFree, StreamCopy,  nullptr};
    return &system;
}

struct SzddDecompressorDeleter {
    void operator()(msszdd_decompressor *d) const { mspack_destroy_szdd_decompressor(d); }
};

LONG ErrorFromMspack(int error) {
    switch (error) {
    case MSPACK_ERR_WRITE:
        return LZERROR_WRITE;
    case MSPACK_ERR_NOMEMORY:
        return LZERROR_GLOBALLOC;
    case MSPACK_ERR_DATAFORMAT:
        return LZERROR_UNKNOWNALG;
    default:
        return LZERROR_READ;
    }
}

// Expands an SZDD source into the destination. The expanded size must match
// the header's: lz32 itself does not compare, so damaged data would pass
// unnoticed there; here it fails with LZERROR_READ. Returns bytes written or
// an LZERROR_* code.
LONG Expand(LzFile *source, LzFile *destination) {
    Stream in;
    in.fd = detail::HostDescriptor(source->file);
    Stream out;
    out.fd = detail::HostDescriptor(destination->file);
    out.position = destination->position;
    std::unique_ptr<msszdd_decompressor, SzddDecompressorDeleter> szdd(
        mspack_create_szdd_decompressor(StreamSystem()));
    if (!szdd) return LZERROR_GLOBALLOC;
    msszddd_header *header = szdd->open(szdd.get(), reinterpret_cast<const char *>(&in));
    if (!header) return ErrorFromMspack(szdd->last_error(szdd.get()));
    const std::int64_t expected = header->length;
    const int error = szdd->extract(szdd.get(), header, reinterpret_cast<const char *>(&out));
    Flush(&out);
    szdd->close(szdd.get(), header);
    destination->position = out.position;
    source->position = expected;  // the whole content has been read
    if (out.failed) return LZERROR_WRITE;
    if (error != MSPACK_ERR_OK) return ErrorFromMspack(error);
    if (out.written != expected) return LZERROR_READ;
    return static_cast<LONG>(out.written);
}

// Copies a source that is not compressed, from its position on.
LONG CopyPlain(LzFile *source, LzFile *destination) {
    const int in = detail::HostDescriptor(source->file);
    const int out = detail::HostDescriptor(destination->file);
    char buffer[16384];
    std::int64_t total = 0;
    for (;;) {
        size_t got = 0;
        if (!ReadAt(in, source->position, buffer, sizeof buffer, &got)) return LZERROR_READ;
        if (got == 0) break;
        if (!WriteAt(out, destination->position, buffer, got)) return LZERROR_WRITE;
        source->position += static_cast<std::int64_t>(got);
        destination->position += static_cast<std::int64_t>(got);
        total += static_cast<std::int64_t>(got);
    }
    return static_cast<LONG>(total);
}

bool StartsWithSzddSignature(HANDLE file) {
    char head[sizeof kSzddSignature];
    size_t got = 0;
    return ReadAt(detail::HostDescriptor(file), 0, head, sizeof head, &got) && got == sizeof head &&
           std::memcmp(head, kSzddSignature, sizeof head) == 0;
}

// The name lz32 tries when a file does not open under its own: the last
// character of the extension becomes "_", an extension of fewer than three
// characters gets "_" added, and a name without one gets "._" ("" becomes
// "._", in the current directory). A probe under Wine decided each form:
// "ro.exe" -> "ro.ex_", "a.b" -> "a.b_", "C:\dir\" -> "C:\dir\._".
std::string CompressedName(const std::string &name) {
    size_t dot = std::string::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (detail::IsLeadByte(c) && i + 1 < name.size()) {
            ++i;
        } else if (c == '\\') {
            dot = std::string::npos;
        } else if (c == '.' && dot == std::string::npos) {
            dot = i;
        }
    }
    if (dot == std::string::npos) return name + "._";
    if (name.size() - dot - 1 < 3) return name + "_";
    std::string compressed = name;
    compressed.back() = '_';
    return compressed;
}

// One OpenFile in compatibility mode (sharing read and write, as Wine maps
// it). The full path must fit OFSTRUCT.szPathName with its terminator: one
// of 128 characters or more fails with ERROR_INVALID_DATA, whatever the
// length of the name as given, for OF_READ and OF_CREATE alike (a probe under
// Wine decided: 127 opens, 128 fails with 13; a relative name counts by its
// full path; a 166-character name full of ".." that comes to 16 opens).
HANDLE OpenAsOpenFile(const std::string &name, bool create, std::string *full, DWORD *error) {
    if (!detail::FullPathQuietly(name, full, error)) {
        if (*error == ERROR_FILENAME_EXCED_RANGE) *error = ERROR_INVALID_DATA;
        return INVALID_HANDLE_VALUE;
    }
    if (full->size() >= OFS_MAXPATHNAME) {
        *error = ERROR_INVALID_DATA;
        return INVALID_HANDLE_VALUE;
    }
    const DWORD shareCompatible = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE file = detail::OpenFileQuietly(name, create ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                          shareCompatible, create ? CREATE_ALWAYS : OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) *error = GetLastError();
    return file;
}

}  // namespace

namespace detail {

void ResetLz() {
    for (auto &entry : Files()) CloseFileQuietly(entry.second.file);
    Files().clear();
}

}  // namespace detail
}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// NT and 95 as OpenFile does it (see OpenAsOpenFile): OF_READ opens an
// existing file for reading, OF_CREATE creates a file or truncates an
// existing one for reading and writing (a read-only destination refuses, as
// CreateFileA's CREATE_ALWAYS does). When that fails, the same style is tried
// under the compressed name: a read-only "x.exe" to create truncates
// "x.ex_" instead, and "" creates "._" in the current directory (a probe
// under Wine showed both; the hidden attribute Wine gives "._" is its own
// for names that begin with a dot, and left out). Failure returns
// LZERROR_BADINHANDLE (HFILE_ERROR) with the second open's error in the last
// error and in nErrCode; success fills in the full path of the name that
// opened, spelt as given (a probe under Wine got "c:\quenmark\SRC.EX_" back
// for a file stored as "Quenmark\src.ex_"; winsim capitalises the drive
// letter, as its GetFullPathNameA does). Styles other than these two fail
// with ERROR_INVALID_PARAMETER.
INT WINAPI LZOpenFileA(LPSTR lpFileName, LPOFSTRUCT lpReOpenBuf, WORD wStyle) {
    if (Enter("LZOpenFileA", lpFileName ? lpFileName : "")) return LZERROR_BADINHANDLE;
    auto fail = [&](DWORD error) {
        SetError(error);
        if (lpReOpenBuf) lpReOpenBuf->nErrCode = static_cast<WORD>(error);
        return LZERROR_BADINHANDLE;
    };
    if (!lpFileName || !lpReOpenBuf) return fail(ERROR_INVALID_PARAMETER);
    const WORD style = wStyle & ~0x70;  // the OF_SHARE_* bits
    if (style != OF_READ && style != OF_CREATE) return fail(ERROR_INVALID_PARAMETER);
    const bool create = style == OF_CREATE;
    std::string full;
    DWORD error = ERROR_SUCCESS;
    HANDLE file = winsim::OpenAsOpenFile(lpFileName, create, &full, &error);
    if (file == INVALID_HANDLE_VALUE)
        file = winsim::OpenAsOpenFile(winsim::CompressedName(lpFileName), create, &full, &error);
    if (file == INVALID_HANDLE_VALUE) return fail(error);

    winsim::LzFile lz;
    lz.file = file;
    lz.create = create;
    lz.compressed = !create && winsim::StartsWithSzddSignature(file);
    lpReOpenBuf->cBytes = sizeof(OFSTRUCT);
    lpReOpenBuf->fFixedDisk = 1;
    lpReOpenBuf->nErrCode = 0;
    std::snprintf(lpReOpenBuf->szPathName, sizeof lpReOpenBuf->szPathName, "%s", full.c_str());
    SetError(ERROR_SUCCESS);
    return winsim::NewHandle(lz);
}

// NT and 95: writes the source's content, expanded when it is SZDD, to the
// destination and returns the count of bytes written. Errors: a handle that is
// not an open source (LZERROR_BADINHANDLE) or not a destination opened with
// OF_CREATE (LZERROR_BADOUTHANDLE), a failed read (LZERROR_READ), a failed
// write (LZERROR_WRITE), a method other than "A" (LZERROR_UNKNOWNALG), and
// damaged SZDD data, whose expanded size differs from the header's
// (LZERROR_READ). What was written before an error stays. A failure injected
// here returns LZERROR_WRITE.
LONG WINAPI LZCopy(INT hfSource, INT hfDest) {
    if (Enter("LZCopy", winsim::PathOf(hfSource))) return LZERROR_WRITE;
    winsim::LzFile *source = winsim::Find(hfSource);
    if (!source || source->create) return LZERROR_BADINHANDLE;
    winsim::LzFile *destination = winsim::Find(hfDest);
    if (!destination || !destination->create) return LZERROR_BADOUTHANDLE;
    return source->compressed ? winsim::Expand(source, destination)
                              : winsim::CopyPlain(source, destination);
}

// NT and 95: closes either kind of handle; an unknown one is ignored. A
// failure injected here leaves the handle open.
void WINAPI LZClose(INT hFile) {
    if (Enter("LZClose", winsim::PathOf(hFile))) return;
    winsim::LzFile *file = winsim::Find(hFile);
    if (!file) return;
    winsim::detail::CloseFileQuietly(file->file);
    winsim::Files().erase(hFile);
}
