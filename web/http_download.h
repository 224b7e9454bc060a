// web/http_download.h - whole downloads in one blocking call: into a
// destination, into a file, or into memory.
#pragma once

#include <cstdint>

#include "core/str.h"
#include "web/http_save.h"

namespace bw {

struct SaveURLResult {
  Str redirectedURL;       // absolute URL of a permanent redirect; NIL when none
  int32_t error = 0;       // 0, or the request's code (-1, -3 .. -7); -2: no file
  int32_t detail = 0;      // the protocol error; the status for -6, curl's exit code for -7
};

// Fetches url (no user agent, blocking) into dest.
SaveURLResult httpSaveURL(httpSaveDestination* dest, Text url, int32_t timeout, fHttpSaveCallback* callback,
                          int32_t bufSize, bool useCaBundle);
// Into a new file at the native path; error -2 when it cannot be opened.
SaveURLResult httpDownloadToFile(Text path, Text url, int32_t timeout, fHttpSaveCallback* callback,
                                 int32_t bufSize, bool useCaBundle);

struct DownloadBufferResult {
  ByteBlock buffer;     // the body with a terminating zero; NIL on error
  int64_t size = 0;     // counting the zero; 0 without a buffer
  Str redirectedURL;
  int32_t error = 0;
  int32_t detail = 0;
};
DownloadBufferResult httpDownloadToBuffer(Text url, int32_t timeout, fHttpSaveCallback* callback,
                                          int32_t bufSize, bool useCaBundle);

}  // namespace bw
