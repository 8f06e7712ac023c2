// The decoders' route through files, on the host. See file_route.h.
#include "file_route.h"

#include <algorithm>
#include <memory>

namespace {

struct Files {
    const FileRoute *route;
    RouteResult *result;
    const std::vector<BYTE> *source;
    const std::vector<BYTE> *delta;
    DWORD capacity;
};

struct Reader {
    Files *files;
    const std::vector<BYTE> *bytes;
};

bool NextReadFails(Files *f) { return f->result->reads++ == f->route->failRead; }

BOOL ReadFrom(const std::vector<BYTE> &bytes, Files *f, DWORD offset, BYTE *buffer, DWORD length) {
    if (NextReadFails(f)) return FALSE;
    if (offset > bytes.size() || bytes.size() - offset < length || length == 0) {
        f->result->outOfBounds = true;
        return FALSE;
    }
    std::copy(bytes.begin() + offset, bytes.begin() + offset + length, buffer);
    return TRUE;
}

BOOL ReadInput(void *context, DWORD offset, BYTE *buffer, DWORD length) {
    Reader *r = static_cast<Reader *>(context);
    return ReadFrom(*r->bytes, r->files, offset, buffer, length);
}

BOOL ReadBack(void *context, DWORD offset, BYTE *buffer, DWORD length) {
    Files *f = static_cast<Files *>(context);
    return ReadFrom(f->result->written, f, offset, buffer, length);
}

BOOL Append(void *context, const BYTE *data, DWORD length) {
    Files *f = static_cast<Files *>(context);
    if (f->result->writes++ == f->route->failWrite) return FALSE;
    if (length == 0 || f->result->written.size() + length > f->capacity) f->result->outOfBounds = true;
    f->result->written.insert(f->result->written.end(), data, data + length);
    return TRUE;
}

std::unique_ptr<BYTE[]> Block(size_t size) { return std::unique_ptr<BYTE[]>(size ? new BYTE[size] : nullptr); }

}  // namespace

RouteResult DecodeThroughFiles(DeltaDecodeFiles decode, const std::vector<BYTE> &source,
                               const std::vector<BYTE> &delta, DWORD capacity, const FileRoute &route) {
    RouteResult result;
    Files files{&route, &result, &source, &delta, capacity};
    Reader sourceReader{&files, &source}, deltaReader{&files, &delta};
    DeltaFile sourceFile{nullptr, static_cast<DWORD>(source.size()), ReadInput, &sourceReader};
    DeltaFile deltaFile{nullptr, static_cast<DWORD>(delta.size()), ReadInput, &deltaReader};
    std::unique_ptr<BYTE[]> window = Block(route.window), buffers = Block(route.buffers);
    DeltaTarget target;
    DeltaTargetInMemory(&target, nullptr, 0);
    target.capacity = capacity;
    target.write = Append;
    target.readBack = ReadBack;
    target.context = &files;
    target.window = window.get();
    target.windowSize = route.window;
    target.buffers = buffers.get();
    target.buffersSize = route.buffers;
    result.size = 0xFFFFFFFF;
    result.result = decode(&sourceFile, &deltaFile, &target, &result.size);
    return result;
}
