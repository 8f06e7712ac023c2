// The decoders' route through files, on the host: the old file and the
// delta read at offsets from exact-size copies, the new file appended to a
// vector and read back, with a window and read buffers as small as a test
// likes, each a heap block of exactly its size for AddressSanitizer. Any
// read or write can be made to fail. Every call is held to the decoder's
// side of the bargain: reads inside their file, the new file read back only
// where it was written, and never grown past its capacity.
#ifndef WF_TESTS_DELTA_FILE_ROUTE_H
#define WF_TESTS_DELTA_FILE_ROUTE_H

#include <cstdint>
#include <vector>

#include "delta_io.h"

struct FileRoute {
    DWORD window = DELTA_WINDOW_MAX;     // bytes of the new file the decoder holds
    DWORD buffers = DELTA_READ_BUFFERS;  // its read buffers, all together
    long failRead = -1;                  // this read (from 0) fails; -1: none
    long failWrite = -1;                 // this write fails
};

struct RouteResult {
    int result = -1;
    DWORD size = 0;                 // what the decoder says it wrote
    std::vector<BYTE> written;      // what it did write
    long reads = 0, writes = 0;
    bool outOfBounds = false;       // a call the decoder should never make
};

RouteResult DecodeThroughFiles(DeltaDecodeFiles decode, const std::vector<BYTE> &source,
                               const std::vector<BYTE> &delta, DWORD capacity, const FileRoute &route = {});

#endif
