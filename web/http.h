// web/http.h - cHTTP, one web request at a time: HTTP/1.0 over a socket,
// https through libcurl in this process, and "file" URLs, with the body
// delivered in pieces to an httpSaveDestination.
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
//      file or TLS transfer, closes a stored destination and frees buffers.
//   2. Only a host free of control bytes, blanks and "/?#@\" and a port in
//      1..65535 (or -1 for the default) are ever connected to; request-line
//      path bytes that are controls, blanks or non-ASCII go out as %XX.
//   3. Redirects: at most kMaxRedirects in a row; a "file" Location is
//      followed only from a "file" request; the certificate choice of the
//      first request carries through; a relative Location keeps the
//      request's scheme, host and port. A redirect to another scheme, host
//      or port sends no Authorization line and no user information; a 307
//      or 308 that would send the POST body there fails (EACCES). A
//      permanent move from https to http is followed but not recorded.
//   4. A Content-Length outside 0..2^63-1 is unknown; a header line with
//      its line end is held to kMaxHeaderLineBytes, the status line and
//      the header lines with their ends to kMaxHeaderBytes (libcurl's
//      limits, so both transports refuse the same answers), and the lines
//      to kMaxHeaderLines (EMSGSIZE).
//   5. A non-blocking request never treats "no data yet" as a failure:
//      every step that finds nothing to read (or no room to send) answers
//      0, unfinished, keeps what it read and resumes when data comes.
//   6. Two deadlines bound every request: no byte for the time-out (20 s
//      when 0) and the whole request older than 10 x the time-out (600 s
//      when 0); past either the next step fails with ETIMEDOUT.
//   7. https is one libcurl transfer (web/http_curl.h) that always checks
//      certificates; its sockets join the watcher's poll like an http
//      socket. Its result is read at the end of the answer: a failure an
//      http socket shows too (a cut, a reset, header lines too long, broken
//      chunks, no answer, a refused connect, a name that does not resolve)
//      is -1 with the same errno and words as over http; any other is -7,
//      with curl's code (the same numbers as the curl command's exit codes).
//
// Results beside 0: -1 transport (infoProtocolError), -3 destination, -4
// stopped by the callback, -5 scheme, -6 an error status (>= 400), -7 the
// TLS transfer failed (infoCurlExit).
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/object.h"
#include "core/str.h"
#include "platform/dos.h"
#include "web/http_chunked.h"
#include "web/http_failure.h"
#include "web/http_save.h"

namespace bw {

class cHTTPwatcher;
class CurlTransfer;
struct URLParts;
struct HostLookup;

// Module initialiser and finaliser (start-up order: after the DOS layer).
void initHTTPModule();
void endHTTPModule();

// Header-line procedures over a chain of header lines.
// The first line whose first `length` bytes (0: the prefix's length) equal
// prefix ignoring case; nullptr when none.
const Str* findHeaderLine(const StrChain& lines, Text prefix, int32_t length);
// text without its leading and trailing blanks and tabs, as a header
// field's value is read.
std::string_view trimBlanks(std::string_view text);
// The rest of the first line "name:" (ignoring case), after the colon,
// without leading and trailing blanks and tabs; NIL when no line matches.
Str getHeaderValue(const StrChain& lines, Text name, int32_t length);
struct HeaderNumber {
  int32_t value = 0;
  bool found = false;
};
// The number after "name:" of the first line that has one, else defaultValue.
HeaderNumber getHeaderNumber(const StrChain& lines, Text name, int32_t length, int32_t defaultValue);
// Content-Length as the request uses it, read as libcurl reads it: blanks,
// an optional "+" and decimal digits, what follows them left unread; -1
// when no line states one or the number passes 2^63 - 1 (the body then
// ends with the connection), kUnreadableLength when a value has no digits
// ("-7", "", "abc") or two values differ ("5, 6", or two lines).
constexpr int64_t kUnreadableLength = -2;
int64_t contentLengthOf(const StrChain& lines);

// Replaces resolving and connecting for http requests (fuzzing): answers a
// connected stream socket for host and port, which the request takes over,
// or -1. An empty function puts the real connect back.
using HttpConnectFunction = std::function<int(const std::string& host, int32_t port)>;
void setHttpConnectFunction(HttpConnectFunction connect);

// True for 301, 302, 303, 307 and 308.
inline bool isRedirectStatus(int32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

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
  static constexpr int64_t kMaxHeaderLineBytes = 100 * 1024 - 1;  // one line with its end
  static constexpr int64_t kMaxHeaderBytes = 300 * 1024;          // the status line and all header lines
  static constexpr int kMaxHeaderLines = 1000;
  static constexpr int kDefaultIdleSeconds = 20;      // no byte for this long
  static constexpr int kDefaultWholeSeconds = 600;    // the whole request
  static constexpr int kWholeTimesIdle = 10;
  // Results of saveAppend beside 0, -1, -3, -4 and -5.
  static constexpr int32_t kErrorStatus = -6;
  static constexpr int32_t kCurlFailed = -7;

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
  // "_.-/&=". The scheme is read ignoring case; a host beyond ASCII goes
  // out in its IDNA form. userInfo ("name:password", percent-encoded as in
  // a URL) is sent as Basic authorisation over both transports, as libcurl
  // and browsers send it: the user gave it for that address (a caller's own
  // Authorization line stands instead).
  OpenResult open(Text scheme, Text host, Text path, int32_t port, Text extraHeaders, Text postData,
                  int32_t timeout, bool nonBlocking, Text safeSet, bool useCaBundle, Text userInfo = nullptr);
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
    int64_t length = -1;    // the stated Content-Length (contentLengthOf), -1 for none or a bodyless answer
  };
  Header getHeader(int32_t bufSize);

  // The status and redirect steps of a non-blocking request without the
  // wait of getStatus and getRedirect: nothing while the status line or the
  // header lines are still coming (what was read is kept; ask again when
  // the watcher reports the request ready), else what those steps answer.
  // A request being served beside others uses these, so that one slow
  // answer cannot hold the rest.
  std::optional<Status> pollStatus();
  std::optional<Redirect> pollRedirect(int32_t bufSize);

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
  // The header lines the driver read (empty before).
  const StrChain& infoHeaderLines() const { return headerLines_; }
  // The TLS transfer's failure code once it ended (https: curl's code, 0
  // when whole; 0 otherwise).
  int32_t infoCurlExit() const { return curlExit_; }
  // Why the finished request failed, in one short sentence for the user
  // ("HTTP 404 Not Found", "the name example.org does not resolve");
  // empty when it did not fail. Kept after close, until the next open.
  std::string infoFailureReason() const { return describeHttpFailure(failure_); }
  // True once a deadline of the request has passed.
  bool infoPastDeadline() const;
  // The first of the two deadlines.
  std::chrono::steady_clock::time_point infoDeadline() const;

  // True when the next step will not block (non-blocking requests only),
  // at once when it goes on from read-ahead bytes.
  bool isReady(int32_t milliseconds);
  // True when the answer's body can begin from bytes already read with the
  // header: the next step needs nothing from the transport, which may stay
  // silent (a server that holds the connection after a whole answer).
  bool infoHasReadAhead() const { return state_ == kBodyReady; }
  // Raw read: bytes read, 0 at the end, negative on error.
  int64_t get(char* buffer, int64_t length);
  int32_t infoProtocolError() const;

  // Refuses extra header lines that begin with "@" (no header line may
  // stand for a file's contents).
  static void checkExtraHeaders(Text extraHeaders);

  // Opens an http request over an already connected stream socket, which
  // the request takes over; for tests and fuzzing of the response reader.
  OpenResult openConnected(int fd, Text host, Text path, bool nonBlocking);

  // Fields the watcher reads.
  int socket() const { return socket_; }
  // What the watcher waits on: the socket, or the name lookup's descriptor
  // while the host is being resolved (http and https); -1 for none (file,
  // and an https transfer, whose sockets addPollFds gives).
  int pollFd() const;
  // POLLOUT while connecting or sending, else POLLIN.
  short pollEvents() const;
  // Appends what to wait on (the http socket with pollEvents, or the TLS
  // transfer's sockets); answers how many it appended.
  size_t addPollFds(std::vector<pollfd>& set) const;
  // Milliseconds until the request must be stepped whatever its sockets
  // say (the TLS transfer's own timer); -1 for never.
  int64_t wakeMs() const;
  bool nonBlocking() const { return nonBlocking_; }
  State state() const { return state_; }
  Protocol protocol() const { return protocol_; }

 private:
  friend class cHTTPwatcher;
  using Clock = std::chrono::steady_clock;
  static constexpr int64_t kNoDataYet = -2;

  int32_t openHttp(int32_t port);
  int32_t openFile(std::string_view path);
  void buildRequestText(std::string_view path);
  // The user and password of the address's user information, "%XX"
  // escapes decoded, each up to a decoded NUL (both empty when it has none).
  std::pair<std::string, std::string> credentials() const;
  int32_t finishOpen(int32_t result);
  void resetResponse();
  // The two limits: no byte for idleLimit, the whole request wholeLimit.
  std::chrono::seconds idleLimit() const;
  std::chrono::seconds wholeLimit() const;
  void failWith(int error);
  int32_t failStep(int error);
  // Name lookup and connecting: resolveStep answers 1 when the addresses
  // are known, 0 while the lookup runs, -1 when it failed.
  int32_t resolveStep();
  // Starts the lookup of the host; a blocking request waits for it within
  // its deadline. Answers as resolveStep.
  int32_t startLookup();
  int32_t connectNext();
  // Whether a request past its deadline is still connecting with another
  // address to try inside the whole limit; such a request moves on.
  bool mayTryNextAddress() const;
  // One send step: 1 all sent, 0 not yet (non-blocking), -1 failed.
  int32_t sendStep();
  // One read from the transport: bytes read, 0 at the end, -1 on failure,
  // kNoDataYet when a non-blocking request finds nothing.
  int64_t readSome(char* buffer, int64_t length);
  int64_t readMore(int64_t length);
  bool waitFor(int fd, short events);
  // The status and header steps: false while a non-blocking request waits
  // for data.
  bool statusStep();
  bool statusLineStep();
  bool headerStep(int32_t bufSize, Header* out);
  // getRedirect's step after the status: nothing while a non-blocking
  // request waits for header lines.
  std::optional<Redirect> redirectStep(int32_t bufSize);
  Step followRedirect();
  // Whether target has this request's scheme, host and port.
  bool isSameOrigin(const URLParts& target) const;
  Step bodyStep();
  struct BodyProgress {
    int64_t count = 0;
    bool stop = false;        // the callback asked to stop
    bool destFailed = false;  // the destination refused a piece
    bool done = false;        // the last chunk was seen
    bool bad = false;         // the chunked framing is broken
  };
  void deliver(const char* data, int64_t length, BodyProgress& p);
  // https: the lookup, then (at once, or from sendStep once the lookup is
  // in) the TLS transfer to the addresses found.
  int32_t openTls();
  int32_t startTls();
  int64_t readTls(char* buffer, int64_t length);
  // What a read answers when the TLS transfer has ended (see
  // http_transports.cpp).
  int64_t tlsTransferEnded();
  // Waits for the TLS transfer to have news, within the deadlines.
  bool waitTls();
  // Notes what is known about a failure with this result, once per
  // request (the first failure is the cause).
  void noteFailure(int32_t result);
  Step driveStep();

  Str userAgent_;
  Protocol protocol_ = kNone;
  Str host_;
  std::string userInfo_;  // of an http or https request, for Basic authorisation
  Str path_;          // of the request, for resolving a relative Location
  int32_t port_ = -1;
  Str extraHeaders_;
  Str postData_;
  std::string body_;  // the encoded POST body
  int32_t timeout_ = 0;
  bool nonBlocking_ = false;
  bool waitForData_ = false;  // by-hand steps of a non-blocking request wait
  bool useCaBundle_ = false;
  State state_ = kClosed;
  int socket_ = -1;
  std::shared_ptr<HostLookup> lookup_;  // while the host is resolved
  std::vector<sockaddr_storage> addresses_;
  size_t nextAddress_ = 0;
  std::string requestText_;
  size_t sentBytes_ = 0;
  dos::FileHandle file_;
  std::unique_ptr<CurlTransfer> tls_;
  bool framingCut_ = false;  // the input ended inside a chunked body
  bool foldedHeader_ = false;  // a header line began with a blank
  std::string headerFault_;    // why a header line or the stated length cannot be read
  // The header faults refused over both transports, in the words the
  // reason gives them (libcurl's own refusals are read into the same).
  static constexpr const char* kLineWithoutColon = "a line without a colon";
  static constexpr const char* kLineWithNul = "a line holding a NUL byte";
  static constexpr const char* kUnreadableContentLength = "a Content-Length that is not one number";
  int32_t curlExit_ = 0;
  std::string transferText_;  // the TLS transfer's words for its failure
  int32_t status_ = 0;
  Str statusText_;
  std::optional<std::string> badStatusCode_;  // what stood for the code of a refused status line
  // Bytes read ahead while reading the status and header lines.
  std::string inbox_;
  size_t inboxPos_ = 0;
  size_t inboxScanned_ = 0;  // from inboxPos_: searched for a line end
  bool statusLineRead_ = false;
  bool skippingInterim_ = false;  // reading an interim answer's header lines
  StrChain headerLines_;
  int64_t headerBytes_ = 0;
  bool chunked_ = false;
  ChunkedDecoder chunks_;
  httpSaveDestination* dest_ = nullptr;
  fHttpSaveCallback* callback_ = nullptr;
  int32_t bufSize_ = 0;
  std::vector<char> bodyBuffer_;
  std::string decoded_;
  int64_t bodyCount_ = 0;
  int64_t bodyLength_ = -2;
  int64_t earlyBodyLength_ = 0;
  bool redirectPermanent_ = false;
  bool permanentRun_ = true;  // every redirect so far was 301 or 308
  Str redirectedURL_;
  int redirectCount_ = 0;
  bool followingRedirect_ = false;
  int lastErrno_ = 0;
  bool lookupFailed_ = false;
  bool gotBytes_ = false;
  HttpFailureFacts failure_;
  int32_t errorOverride_ = 0;
  Clock::time_point started_;
  Clock::time_point lastByte_;
  cHTTPwatcher* watcher_ = nullptr;
  cHTTP* watchPrev_ = nullptr;
  cHTTP* watchNext_ = nullptr;
};

}  // namespace bw
