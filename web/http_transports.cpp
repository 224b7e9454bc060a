// web/http_transports.cpp - the https transport's opening (the request
// handed to libcurl, see http_curl.h), the "file" transport, and the HTTP
// module's start and end.
//
// Certificates are always checked: against "curl-ca-bundle.crt" in the
// current folder when the caller asks and it is there, else against the
// bundle $CURL_CA_BUNDLE names, else the system's store.
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "core/string_procs.h"
#include "platform/dos_errors.h"
#include "platform/links.h"
#include "platform/path_native.h"
#include "web/http.h"
#include "web/http_curl.h"
#include "web/http_resolver.h"

namespace bw {
namespace {

std::mutex gModuleMutex;
fHttpSaveCallback* gSaveCallbackInstance = nullptr;

// URL text with its "%XX" escapes decoded; a "%" without two hex digits
// stays as it is.
std::string percentDecoded(std::string_view text) {
  auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

void initHTTPModule() {
  initCurlTransport();
  std::lock_guard<std::mutex> lock(gModuleMutex);
  if (!gSaveCallbackInstance) gSaveCallbackInstance = new fHttpSaveCallback();
}

void endHTTPModule() {
  std::lock_guard<std::mutex> lock(gModuleMutex);
  delete gSaveCallbackInstance;
  gSaveCallbackInstance = nullptr;
  stopHostResolver();
  endCurlTransport();
}

int32_t cHTTP::openTls(std::string_view path, int32_t port) {
  CurlRequest r;
  r.url = "https://" + host_.str();
  if (port != -1) r.url += ":" + std::to_string(port);
  r.url += "/" + escapeRequestPath(path);
  if (!userInfo_.empty()) {
    const size_t colon = userInfo_.find(':');
    r.user = percentDecoded(std::string_view(userInfo_).substr(0, colon));
    if (colon != std::string::npos) r.password = percentDecoded(std::string_view(userInfo_).substr(colon + 1));
  }
  if (!userAgent_.isNil()) r.headers.push_back("User-Agent:" + userAgent_.str());
  r.post = !postData_.isNil();
  if (r.post) {
    // No form type of curl's own and no wait for a "100 Continue": the
    // body goes as an http request sends it.
    r.headers.push_back("Content-Type:");
    r.headers.push_back("Expect:");
    r.body = body_;
  }
  if (!extraHeaders_.isNil()) {
    for (const Str& line : splitLines(extraHeaders_).chain)
      if (!line.empty()) r.headers.push_back(line.str());
  }
  if (useCaBundle_ && pathOrDeviceExists("curl-ca-bundle.crt", 1)) {
    r.caFile = "curl-ca-bundle.crt";
  } else if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle && *bundle) {
    r.caFile = bundle;
  }
  tls_ = CurlTransfer::start(r);
  if (!tls_) {
    lastErrno_ = ENOMEM;
    return -1;
  }
  return 0;
}

int32_t cHTTP::openFile(std::string_view path) {
  dos::setIoErr(0);
  std::string_view host = host_.view();
  if (!postData_.isNil() || !(host.empty() || host == "localhost")) return -1;
  file_ = dos::open(Str(":" + std::string(path)), dos::kModeOldFile);
  return file_ ? 0 : -1;
}

}  // namespace bw
