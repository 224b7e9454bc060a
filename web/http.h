// web/http.h - cHTTP, one web request at a time: HTTP/1.0 over a socket,
// https through the real `curl`, and "file" URLs, with the body delivered in
// pieces to an httpSaveDestination.
//
// Usual order: construct once with the user agent; per request openURL (or
// open), saveInit, saveAppend until it answers non-zero or finished, then
// infoStatus / infoRedirectedURL / infoProtocolError, and close. By hand:
// open, sendRequest, getStatus, getRedirect or getHeader, get until 0,
// close. Each step checks the state the previous one left and raises "EMU"
// otherwise.
//
// Invariants:
//   1. One request at a time; close (or the destructor) releases its socket,
//      file or curl process, closes a stored destination and frees buffers.
//   2. Only a host free of control bytes, blanks and "/?#@\" and a port in
//      1..65535 (or -1 for the default) are ever connected to; request-line
//      path bytes that are controls, blanks or non-ASCII go out as %XX.
//   3. Redirects: at most kMaxRedirects in a row; a "file" Location is
//      followed only from a "file" request; the certificate choice of the
//      first request carries through.
//   4. A Content-Length outside 0..2^31-1 is unknown; header lines longer
//      than kMaxHeaderLine fail the request.
//   5. A non-blocking request never treats "no data yet" as a failure: the
//      status and header steps wait (up to the time-out, 20 s when 0), the
//      body step answers 0 with finished false and counts nothing.
//   6. curl runs from an argument vector in its own process group with its
//      output and errors on two pipes; closing sends it SIGINT and never
//      waits; it is reaped later (or killed and reaped by endHTTPModule).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/object.h"
#include "core/str.h"
#include "platform/dos.h"
#include "platform/spawn.h"
#include "web/http_save.h"

namespace bw {

class cHTTPwatcher;

// Module initialiser and finaliser (start-up order: after the DOS layer).
void initHTTPModule();
void endHTTPModule();

// Header-line procedures over a chain of header lines.
// The first line whose first `length` bytes (0: the prefix's length) equal
// prefix ignoring case; nullptr when none.
const Str* findHeaderLine(const StrChain& lines, Text prefix, int32_t length);
// The rest of the first line "name:" (ignoring case), after the colon and
// any blanks and tabs; NIL when no line matches.
Str getHeaderValue(const StrChain& lines, Text name, int32_t length);
struct HeaderNumber {
  int32_t value = 0;
  bool found = false;
};
// The number after "name:" of the first line that has one, else defaultValue.
HeaderNumber getHeaderNumber(const StrChain& lines, Text name, int32_t length, int32_t defaultValue);
// Content-Length as the request uses it: -1 unless it is a plain decimal
// number in 0..2^31-1.
int64_t contentLengthOf(const StrChain& lines);

// True when host may be connected to and named on a Host line: no byte
// <= 0x20, no DEL, none of "/?#@\" (so "_" is fine).
bool isUsableHost(std::string_view host);

// Request-line form of a URL path: bytes that are controls, blanks, DEL or
// non-ASCII become %XX; everything else stays.
std::string escapeRequestPath(std::string_view path);

class cHTTP : public class_base {
  BW_CLASS(cHTTP, class_base)
 public:
  enum State : int8_t {
    kClosed = 0,
    kFailed = 1,
    kRedirectPending = 2,
    kOpened = 3,
    kSent = 4,
    kStatusRead = 5,
    kHeaderRead = 6,
    kRedirectRead = 7,
    kBodyReady = 8,
    kBodyRunning = 9,
  };
  enum Protocol : uint8_t { kNone = 0, kHttp = 1, kHttps = 2, kFile = 3 };

  static constexpr int kMaxRedirects = 10;
  static constexpr int64_t kMaxHeaderLine = 1 << 20;
  static constexpr int kDefaultWaitSeconds = 20;

  // userAgent NIL sends none.
  explicit cHTTP(Text userAgent);
  ~cHTTP() override;
  cHTTP(const cHTTP&) = delete;
  cHTTP& operator=(const cHTTP&) = delete;
  // Closes what is open and leaves the watcher; runs once.
  void end();

  struct OpenResult {
    int32_t result = 0;         // 0, -1 or -5
    int32_t protocolError = 0;  // infoProtocolError of a failure
  };
  OpenResult openURL(Text url, Text baseURL, Text extraHeaders, Text postData, int32_t timeout,
                     bool nonBlocking, Text safeSet, bool useCaBundle);
  // path without its leading "/"; port -1 for the default; safeSet NIL for
  // "_.-/&=".
  OpenResult open(Text scheme, Text host, Text path, int32_t port, Text extraHeaders, Text postData,
                  int32_t timeout, bool nonBlocking, Text safeSet, bool useCaBundle);
  void close();
  bool infoIsActive() const { return state_ != kClosed; }
  bool infoIsOpen() const { return protocol_ != kNone; }

  int32_t sendRequest();

  struct Status {
    int32_t status = 0;     // code or -1
    bool redirect = false;  // 301, 302, 303, 307, 308
  };
  Status getStatus();
  Status infoStatus();
  const Str& infoStatusText() const { return statusText_; }

  struct Redirect {
    int32_t result = 0;
    Str location;  // NIL when none
    bool permanent = false;
  };
  Redirect getRedirect(int32_t bufSize);

  struct Header {
    int32_t result = 0;
    StrChain lines;
    std::string earlyBody;  // body bytes read with the header lines
  };
  Header getHeader(int32_t bufSize);

  struct Step {
    int32_t result = 0;
    bool finished = false;
  };
  // Runs saveInit and saveAppend until non-zero or finished.
  Step save(httpSaveDestination* dest, fHttpSaveCallback* callback, int32_t bufSize);
  void saveInit(httpSaveDestination* dest, fHttpSaveCallback* callback, int32_t bufSize);
  Step saveAppend(httpSaveDestination* dest, fHttpSaveCallback* callback);

  struct Progress {
    int64_t bodyCount = 0;
    int64_t bodyLength = -2;
  };
  Progress infoProgress() const { return {bodyCount_, bodyLength_}; }
  const Str& infoRedirectedURL() const { return redirectedURL_; }

  // True when the next step will not block (non-blocking requests only).
  bool isReady(int32_t milliseconds);
  // Raw read: bytes read, 0 at the end, negative on error.
  int64_t get(char* buffer, int64_t length);
  int32_t infoProtocolError() const;

  // The curl command as one line, for logs only (never run through a
  // shell); empty when no curl was started.
  const std::string& commandText() const { return commandText_; }

  // Opens an http request over an already connected stream socket, which
  // the request takes over; for tests and fuzzing of the response reader.
  OpenResult openConnected(int fd, Text host, Text path, bool nonBlocking);

  // Fields the watcher reads.
  int socket() const { return socket_; }
  bool nonBlocking() const { return nonBlocking_; }
  State state() const { return state_; }
  Protocol protocol() const { return protocol_; }

 private:
  friend class cHTTPwatcher;

  int32_t openHttp(std::string_view path, int32_t port);
  int32_t openHttps(std::string_view path, int32_t port);
  int32_t openFile(std::string_view path);
  void buildRequestText(std::string_view path);
  int32_t finishOpen(int32_t result);
  void failWith(int error);
  // A read for the status and header steps: waits for data on a
  // non-blocking socket up to the time-out.
  int64_t readWaiting(char* buffer, int64_t length);
  bool waitReadable(int milliseconds);
  Step followRedirect();
  Step bodyStep();
  void stopCurl();
  int32_t statusFromCurlErrors();
  bool curlIsReady(int32_t milliseconds);

  Str userAgent_;
  Protocol protocol_ = kNone;
  Str host_;
  Str extraHeaders_;
  Str postData_;
  std::string body_;  // the encoded POST body
  int32_t timeout_ = 0;
  bool nonBlocking_ = false;
  bool useCaBundle_ = false;
  State state_ = kClosed;
  int socket_ = -1;
  std::string requestText_;
  dos::FileHandle file_;
  ChildProcess curl_;
  std::string commandText_;
  bool inputEnded_ = false;
  int32_t status_ = 0;
  Str statusText_;
  httpSaveDestination* dest_ = nullptr;
  fHttpSaveCallback* callback_ = nullptr;
  int32_t bufSize_ = 0;
  std::vector<char> bodyBuffer_;
  int64_t bodyCount_ = 0;
  int64_t bodyLength_ = -2;
  int64_t earlyBodyLength_ = 0;
  bool redirectPermanent_ = false;
  Str redirectedURL_;
  int redirectCount_ = 0;
  bool followingRedirect_ = false;
  int lastErrno_ = 0;
  int32_t errorOverride_ = 0;
  cHTTPwatcher* watcher_ = nullptr;
  cHTTP* watchPrev_ = nullptr;
  cHTTP* watchNext_ = nullptr;
};

}  // namespace bw
