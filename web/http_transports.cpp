// web/http_transports.cpp - the https transport's opening (the request
// handed to libcurl, see http_curl.h) and the reading of its failures, the
// "file" transport, and the HTTP module's start and end.
//
// Certificates are always checked: against "curl-ca-bundle.crt" in the
// current folder when the caller asks and it is there, else against the
// bundle $CURL_CA_BUNDLE names, else the system's store.
//
// A failure that libcurl ends a transfer with and that an http socket shows
// too is read as the socket's: the same result (-1), errno and sentence
// over both transports. What stays -7 with curl's code is what only TLS
// knows (certificates, the handshake) and what curl does not tell apart.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <tuple>

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

// The socket error that curl's words for a failed read or write name, as
// strerror words it ("Recv failure: Connection reset by peer"); 0 for none.
// (The errno curl keeps is the last any socket call of the transfer saw,
// not the one behind its failure.)
int socketErrorNamed(std::string_view text) {
  for (int error : {ECONNRESET, EPIPE, ECONNABORTED, ETIMEDOUT, ENETDOWN, ENETUNREACH, EHOSTUNREACH}) {
    if (text.find(std::strerror(error)) != std::string_view::npos) return error;
  }
  return 0;
}

// Whether curl will reach https hosts through a proxy named in the
// environment: then the proxy, not this process, looks the host up.
bool proxyInEnvironment() {
  for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    if (const char* value = std::getenv(name); value && *value) return true;
  }
  return false;
}

bool isNumericHost(const std::string& host) {
  in6_addr address;
  return ::inet_pton(AF_INET, host.c_str(), &address) == 1 || ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

// The address as curl reads it in a CURLOPT_RESOLVE entry ("[...]" for
// IPv6).
std::string addressText(const sockaddr_storage& a) {
  char text[INET6_ADDRSTRLEN] = "";
  if (a.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
    return "[" + std::string(text) + "]";
  }
  ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
  return text;
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

// The host is looked up by the resolver http uses (http_resolver.h), which
// a request leaves behind when it gives up, and curl is handed the
// addresses: curl's own lookup would hold the closing of its transfer until
// the lookup ends.
int32_t cHTTP::openTls() {
  if (host_.view().starts_with("[") || isNumericHost(host_.str()) || proxyInEnvironment()) return startTls();
  int32_t r = startLookup();
  if (r <= 0) return r;
  return startTls();
}

std::pair<std::string, std::string> cHTTP::credentials() const {
  // Each ends at a decoded NUL, as libcurl takes them (C strings).
  auto decoded = [](std::string_view part) {
    std::string text = percentDecoded(part);
    return text.substr(0, text.find('\0'));
  };
  const size_t colon = userInfo_.find(':');
  const std::string_view info(userInfo_);
  return {decoded(info.substr(0, colon)), colon == std::string::npos ? "" : decoded(info.substr(colon + 1))};
}

int32_t cHTTP::startTls() {
  const std::string_view path = path_.isNil() ? std::string_view() : path_.view();
  CurlRequest r;
  r.url = "https://" + host_.str();
  if (port_ != -1) r.url += ":" + std::to_string(port_);
  r.url += "/" + escapeRequestPath(path);
  if (!addresses_.empty()) {
    std::string entry = host_.str() + ":" + std::to_string(port_ == -1 ? 443 : port_) + ":";
    for (size_t i = 0; i < addresses_.size(); ++i) entry += (i ? "," : "") + addressText(addresses_[i]);
    r.resolve.push_back(std::move(entry));
  }
  std::tie(r.user, r.password) = credentials();
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

// The TLS transfer has ended: 0 as a socket's end of input (a cut is then
// found and worded as over http), -1 with the errno a socket's read would
// fail with, or 0 with curlExit_ kept for a failure of curl's own.
int64_t cHTTP::tlsTransferEnded() {
  curlExit_ = tls_->code();
  transferText_ = tls_->errorText();
  const bool inBody = state_ == kBodyReady || state_ == kBodyRunning;
  auto says = [this](std::string_view word) { return transferText_.find(word) != std::string::npos; };
  int error = 0;
  switch (curlExit_) {
    case 0:
      return 0;
    case CURLE_PARTIAL_FILE:
      // The connection ended early. Inside the header lines, or short of a
      // stated length, the driver sees the end and words it; a chunked body
      // has no length to count.
      framingCut_ = inBody && bodyLength_ < 0;
      if (framingCut_) error = EPROTO;
      break;
    case CURLE_GOT_NOTHING:
      break;
    case CURLE_BAD_FUNCTION_ARGUMENT:  // libcurl's word for a chunk it cannot read
      if (!inBody || !says("chunk")) return 0;
      error = EPROTO;
      break;
    case CURLE_WEIRD_SERVER_REPLY:
      if (!inBody && statusLineRead_) {  // a header line curl refused
        headerFault_ = says("colon")            ? kLineWithoutColon
                       : says("Nul byte")       ? kLineWithNul
                       : says("Content-Length") ? kUnreadableContentLength
                                                : transferText_;
        error = EPROTO;
        break;
      }
      [[fallthrough]];
    case CURLE_UNSUPPORTED_PROTOCOL:  // "HTTP/0.9": bytes came, no status line
      if (inBody) return 0;
      gotBytes_ = true;
      break;
    case CURLE_OUT_OF_MEMORY:  // a header line beyond curl's own limit
      if (inBody) return 0;
      error = EMSGSIZE;
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
      lookupFailed_ = true;
      error = EHOSTUNREACH;
      break;
    case CURLE_RECV_ERROR:
      if (!inBody && says("headers")) {  // all header lines beyond curl's limit
        error = EMSGSIZE;
        break;
      }
      if (inBody && says("chunk")) {  // a chunk size that is no number
        error = EPROTO;
        break;
      }
      [[fallthrough]];
    case CURLE_SEND_ERROR:
      error = socketErrorNamed(transferText_);
      if (error == 0) return 0;
      break;
    case CURLE_COULDNT_CONNECT:
      error = tls_->osError();
      if (error == 0) return 0;
      break;
    default:
      return 0;
  }
  curlExit_ = 0;
  if (error == 0) return 0;
  failWith(error);
  return -1;
}

int32_t cHTTP::openFile(std::string_view path) {
  dos::setIoErr(0);
  std::string_view host = host_.view();
  if (!postData_.isNil() || !(host.empty() || host == "localhost")) return -1;
  file_ = dos::open(Str(":" + std::string(path)), dos::kModeOldFile);
  return file_ ? 0 : -1;
}

}  // namespace bw
