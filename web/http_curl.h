// web/http_curl.h - the https transport of cHTTP: one libcurl transfer in
// this process, driven without blocking through the multi interface, whose
// sockets and timer the caller waits on in its own poll.
//
// The transfer hands back the answer as it came on the wire: the status
// line and header lines (interim 1xx blocks too; trailers after the body
// are dropped), the empty line, then the body with curl's transfer framing
// undone. cHTTP reads it exactly as it reads an http socket.
//
// Invariants:
//   1. Certificates are always checked (peer and host name), against the
//      bundle file given, else the system's store.
//   2. Nothing is spawned and no request text reaches an argument list;
//      closing (the destructor) ends the transfer at once, never waiting
//      for a name lookup of curl's own (a proxy's) that is under way. A connection
//      whose answer came whole and that the server keeps alive stays open
//      for the thread's next transfer to the same host and port (libcurl
//      closes it when idle too long or beyond its cache); any other
//      connection closes with the transfer, and so does a kept one on
//      which bytes wait that no answer claimed.
//   3. curl follows no redirect, decodes no content encoding and speaks
//      HTTP/1.1 to the https scheme only. An answer whose header lines
//      name a coding other than one "chunked" transfer coding, or that has
//      a folded header line, ends at its header lines: curl inflates
//      nothing, and cHTTP refuses it as over http.
//   4. drive() never blocks; read() drives when it has nothing buffered.
#pragma once

#include <curl/curl.h>
#include <poll.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

struct CurlRequest {
  std::string url;                  // https://host[:port]/path
  std::vector<std::string> headers; // request header lines
  bool post = false;
  std::string body;                 // for a POST
  std::string caFile;               // empty: the system's store
  std::string user, password;       // Basic authorisation; empty user: none
  // "host:port:address,..." entries: the host's addresses, looked up by
  // the caller; curl then looks up nothing itself.
  std::vector<std::string> resolve;
};

class ThreadShare;

class CurlTransfer {
 public:
  // Starts the transfer; nullptr when libcurl could not make it.
  static std::unique_ptr<CurlTransfer> start(const CurlRequest& request);
  ~CurlTransfer();
  CurlTransfer(const CurlTransfer&) = delete;
  CurlTransfer& operator=(const CurlTransfer&) = delete;

  static constexpr int64_t kNothingYet = -2;
  // Bytes copied, 0 at the end of the transfer, kNothingYet when nothing is
  // buffered and the transfer goes on.
  int64_t read(char* buffer, int64_t length);
  // Lets curl act on its sockets and timer.
  void drive();
  // The descriptors to wait on (appended) and how long until curl's timer
  // is due (milliseconds; -1 none).
  void addPollFds(std::vector<pollfd>& set) const;
  int64_t timerMs() const;
  // True when something is buffered or the transfer has ended.
  bool hasNews() const { return inboxPos_ < inbox_.size() || finished_; }
  // curl's result once the transfer ended (0: whole), its words, and the
  // errno of its last failed connect (0: none).
  bool finished() const { return finished_; }
  int32_t code() const { return code_; }
  const std::string& errorText() const { return errorText_; }
  int osError() const { return osError_; }
  // True once the connection (its TLS handshake too) was made or reused
  // and the request could go.
  bool connected() const { return connected_; }

 private:
  CurlTransfer() = default;
  static size_t onBody(char* data, size_t size, size_t count, void* self);
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static int onDebug(CURL* easy, curl_infotype type, char* data, size_t size, void* self);
  static int onSocket(CURL* easy, curl_socket_t fd, int what, void* self, void* socketData);
  static int onTimer(CURLM* multi, long ms, void* self);
  static int onConnected(void* self, char* ip, char* localIp, int port, int localPort);
  void action(int fd, int events);
  void noteCodings(std::string_view line);

  std::shared_ptr<ThreadShare> share_;  // ends after the easy handle (the destructor's body)
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headerList_ = nullptr;
  curl_slist* resolveList_ = nullptr;
  std::vector<pollfd> sockets_;
  bool timerSet_ = false;
  std::chrono::steady_clock::time_point timerAt_;
  std::string inbox_;
  size_t inboxPos_ = 0;
  bool headerEnded_ = false;  // the final header block has ended
  int interimStatus_ = 0;     // the status of the header block being read
  int transferCodings_ = 0;   // the transfer codings the block names
  bool refusedCoding_ = false;  // it names one cHTTP does not read
  bool folded_ = false;       // a header line began with a blank
  bool excess_ = false;       // curl found bytes beyond the answer
  bool finished_ = false;
  bool connected_ = false;
  int32_t code_ = 0;
  int osError_ = 0;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  std::string errorText_;
};

// libcurl's global set-up and tear-down (the HTTP module's start and end).
void initCurlTransport();
void endCurlTransport();

}  // namespace bw
