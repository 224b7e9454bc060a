// web/http_failure.h - one short sentence, for the user, telling why a
// finished request failed.
//
// cHTTP notes what it knew when a step failed (HttpFailureFacts) and
// describeHttpFailure words it. Invariants:
//   1. A result of 0 gives the empty text; every other result gives one
//      sentence without a final stop, in plain words (no errno names).
//   2. Only printable ASCII from outside reaches the sentence (the reason
//      text of the status line, held to 80 bytes; the TLS transport's own
//      words, whole).
//   3. A limit is named by the seconds the request really allowed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bw {

// Why a save destination refused the body (http_save.h).
struct SaveRefusal {
  enum Kind : uint8_t { kUnknown, kEmpty, kTooLarge, kNotWritten };
  Kind kind = kUnknown;
  int64_t limit = 0;  // kTooLarge: the largest body taken, in bytes
};

struct HttpFailureFacts {
  int32_t result = 0;       // saveAppend's or open's result (-1, -3 .. -7)
  int32_t status = 0;       // the status read, -1 or 0 when none
  std::string statusText;   // its reason text
  // What stood for the code of a status line that has none ("000", "$C8").
  std::optional<std::string> badStatusCode;
  int error = 0;            // errno of the failure (0: none)
  bool file = false;        // a "file" URL
  bool lookupFailed = false;
  bool resolving = false;   // the name lookup was still under way
  bool connecting = false;  // no connection was made yet
  bool anyByte = false;     // some of the answer came
  std::string host;
  int32_t port = 0;
  int32_t limitSeconds = 0;  // the limit that ran out, when error is ETIMEDOUT
  bool wholeLimit = false;   // it was the whole request's limit
  int32_t transferCode = 0;  // the TLS transport's own failure code (curl's)
  std::string transferText;  // and its words
  std::string encoding;      // a Content-Encoding or Transfer-Encoding refused
  int64_t bodyLength = -1;   // the stated length of a cut body
  int64_t bodyMissing = 0;   // bytes of it that never came
  bool framingCut = false;   // the answer ended inside its chunked framing
  bool foldedHeader = false; // a header line was folded onto the next
  std::string headerFault;   // a header line or length that cannot be read, in words
  bool redirect = false;     // failed while following a redirect
  std::string scheme;        // for -5
  SaveRefusal refusal;       // for -3
  bool signedRedirect = false;  // a 307/308 would resend a body elsewhere
};

std::string describeHttpFailure(const HttpFailureFacts& facts);

}  // namespace bw
