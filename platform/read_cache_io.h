// platform/read_cache_io.h - a read cache between a host file and its I/O
// backend: whole 4 KiB pages of what the file holds, kept in memory so that
// the file layer's own two-chunk cache can miss without a pread; or, where
// the backend offers a descriptor to map, the file's own pages, read through
// a read-only shared mapping (file_mapping.h) without a copy by the kernel.
//
// Invariants:
//   1. A cached page holds exactly the file's bytes from its start to its
//      valid length (a page at the end of the file may be short). Every
//      write and truncation passes through to the file first and then
//      updates or drops the pages it touches (a write from a page's start
//      keeps that page, cached or not); a failed one drops them all.
//   2. Nothing observable changes: reads answer what the file holds, every
//      write and sync reaches the backend as before.
//   3. At most `pages` pages are kept; the one used longest ago goes first.
//      A page is found by its number in a table; the pages live in one
//      block of memory, and a slot's page is reused for the next page read.
//   4. dropCache() empties it (the journaled file does so at every discard).
//      A cut costs what it drops: only the pages past the new end are
//      looked at.
//   5. A miss reads its one page whole.
//   6. Where the file is mapped, every read that ends within the file's
//      size as the cache knows it (its size at the start, then what this
//      cache's writes and cuts made it) is a guarded copy from the mapping
//      (of the pieces alone for a gathered read), which grows with the
//      file; writes put no new pages in. A read past that size, and every
//      read after a fault on the mapping (which ends it), takes the pages'
//      road above: a fault is reported by its pread, as a failed or short
//      read. The mapping keeps what its reads bring in bounded
//      (file_mapping.h).
//   7. While readInWindows is on, a read that lies within one aligned window
//      of kReadWindowBytes and within the file's size is answered from
//      that window, read whole with one read of the backend (the one used
//      longest ago of kReadWindows goes): a walk through the file costs one
//      copy by the kernel a window, where the mapping's faults are dear (on
//      a virtual machine, several times the copy). Any write, cut or drop
//      forgets the windows; turning it off frees them.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/host_io.h"

namespace bw {

inline constexpr int64_t kReadCachePageSize = 4096;
// readInWindows: the windows' size and how many are kept.
inline constexpr int64_t kReadWindowBytes = 64 * 1024;
inline constexpr int32_t kReadWindows = 4;

// io with a read cache of up to pages pages in front of it.
std::unique_ptr<HostIo> withReadCache(std::unique_ptr<HostIo> io, int32_t pages);

}  // namespace bw
