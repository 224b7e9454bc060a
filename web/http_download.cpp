// web/http_download.cpp - the blocking download procedures.
#include "web/http_download.h"

#include "core/string_procs.h"
#include "web/http.h"

namespace bw {

SaveURLResult httpSaveURL(httpSaveDestination* dest, Text url, int32_t timeout, fHttpSaveCallback* callback,
                          int32_t bufSize, bool useCaBundle) {
  SaveURLResult out;
  cHTTP http(nullptr);
  cHTTP::OpenResult opened = http.openURL(url, nullptr, nullptr, nullptr, timeout, false, nullptr, useCaBundle);
  if (opened.result != 0) {
    out.error = opened.result;
    out.detail = opened.protocolError;
    return out;
  }
  cHTTP::Step step = http.save(dest, callback, bufSize);
  if (step.result == 0) {
    out.redirectedURL = copyString(http.infoRedirectedURL());
  } else {
    out.error = step.result;
    // An error status tells the status, a failed curl its exit code.
    out.detail = !http.infoIsOpen()                 ? 0
                 : step.result == cHTTP::kErrorStatus ? http.infoStatus().status
                 : step.result == cHTTP::kCurlFailed  ? http.infoCurlExit()
                                                      : http.infoProtocolError();
  }
  if (http.infoIsOpen()) http.close();
  return out;
}

SaveURLResult httpDownloadToFile(Text path, Text url, int32_t timeout, fHttpSaveCallback* callback,
                                 int32_t bufSize, bool useCaBundle) {
  httpSaveToFile file;
  if (!file.open(path)) {
    SaveURLResult out;
    out.error = -2;
    return out;
  }
  return httpSaveURL(&file, url, timeout, callback, bufSize, useCaBundle);
}

DownloadBufferResult httpDownloadToBuffer(Text url, int32_t timeout, fHttpSaveCallback* callback,
                                          int32_t bufSize, bool useCaBundle) {
  httpSaveToBuffer memory;
  SaveURLResult saved = httpSaveURL(&memory, url, timeout, callback, bufSize, useCaBundle);
  DownloadBufferResult out;
  out.redirectedURL = std::move(saved.redirectedURL);
  out.error = saved.error;
  out.detail = saved.detail;
  if (saved.error == 0) {
    httpSaveToBuffer::Buffer b = memory.getBuffer();
    out.buffer = std::move(b.data);
    out.size = out.buffer ? b.total : 0;
  }
  return out;
}

}  // namespace bw
