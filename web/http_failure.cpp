// web/http_failure.cpp - the sentences of describeHttpFailure.
#include "web/http_failure.h"

#include <cerrno>
#include <cstring>

namespace bw {
namespace {

// The failure codes of the TLS transport (curl's, stable numbers) that get
// words of their own.
enum TransferCode : int32_t {
  kUnsupportedProtocol = 1,
  kMalformedURL = 3,
  kCouldNotResolve = 6,
  kCouldNotConnect = 7,
  kWeirdReply = 8,
  kPartialFile = 18,
  kReturnedError = 22,
  kWriteError = 23,
  kTimedOut = 28,
  kTlsConnect = 35,
  kTooManyRedirects = 47,
  kGotNothing = 52,
  kSendError = 55,
  kReceiveError = 56,
  kClientCertificate = 58,
  kPeerVerification = 60,
  kBadContentEncoding = 61,
  kFileSizeExceeded = 63,
  kCaFile = 77,
  kIssuer = 83,
};

// Outside text as it may stand in a sentence: printable ASCII, trimmed,
// at most `limit` bytes.
std::string printable(std::string_view text, size_t limit = 80) {
  std::string out;
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (out.size() >= limit) break;
    out += (c >= 0x20 && c < 0x7F) ? ch : '?';
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  size_t lead = out.find_first_not_of(' ');
  return lead == std::string::npos ? std::string() : out.substr(lead);
}

std::string errorWords(int error) {
  std::string words = std::strerror(error);
  if (!words.empty() && words[0] >= 'A' && words[0] <= 'Z' && (words.size() < 2 || words[1] > 'Z'))
    words[0] = static_cast<char>(words[0] - 'A' + 'a');
  return words;
}

std::string hostPort(const HttpFailureFacts& f) {
  std::string host = printable(f.host);
  return f.port > 0 ? host + ":" + std::to_string(f.port) : host;
}

// The TLS transport's words are kept whole (curl's are at most 255 bytes).
std::string withDetail(std::string sentence, const std::string& detail) {
  std::string d = printable(detail, std::string::npos);
  return d.empty() ? sentence : sentence + " (" + d + ")";
}

std::string errorStatus(const HttpFailureFacts& f) {
  std::string sentence = "HTTP " + std::to_string(f.status);
  std::string reason = printable(f.statusText);
  if (!reason.empty()) sentence += " " + reason;
  if (f.status == 410) sentence += ": the feed has been removed";
  return sentence;
}

std::string cutBody(const HttpFailureFacts& f) {
  return "the answer ended after " + std::to_string(f.bodyLength - f.bodyMissing) + " of its " +
         std::to_string(f.bodyLength) + " bytes";
}

std::string timedOut(const HttpFailureFacts& f) {
  const std::string seconds = std::to_string(f.limitSeconds) + " s";
  if (f.resolving) return "the name " + printable(f.host) + " did not resolve within " + seconds;
  if (f.connecting) return "could not connect to " + hostPort(f) + " within " + seconds;
  if (f.wholeLimit) return "the server did not send its whole answer within " + seconds;
  if (f.status <= 0) return "the server did not answer within " + seconds;
  return "the server sent nothing for " + seconds;
}

std::string transferFailure(const HttpFailureFacts& f) {
  const std::string host = printable(f.host);
  switch (f.transferCode) {
    case kCouldNotResolve: return "the name " + host + " does not resolve";
    case kCouldNotConnect: return withDetail("could not connect to " + hostPort(f), f.transferText);
    case kTimedOut: return timedOut(f);
    case kPeerVerification:
    case kIssuer:
    case kCaFile: return withDetail("the certificate of " + host + " is not trusted", f.transferText);
    case kTlsConnect: return withDetail("the secure connection to " + host + " failed", f.transferText);
    case kClientCertificate: return withDetail("the secure connection to " + host + " failed", f.transferText);
    case kTooManyRedirects: return "too many redirects in a row";
    case kGotNothing: return "the server " + host + " closed the connection without answering";
    case kPartialFile:
      if (f.bodyLength >= 0 && f.bodyMissing > 0) return cutBody(f);
      return "the answer ended before all of it came";
    case kSendError:
    case kReceiveError:
      if (f.bodyLength >= 0 && f.bodyMissing > 0) return cutBody(f);
      return withDetail("the connection to " + host + " broke off", f.transferText);
    case kWeirdReply:
    case kUnsupportedProtocol: return withDetail("the server's answer is not HTTP", f.transferText);
    case kBadContentEncoding: return "the answer is in an encoding that cannot be read";
    case kWriteError:
    case kFileSizeExceeded: return "the answer could not be stored";
    case kMalformedURL: return "the address cannot be fetched";
    case kReturnedError: if (f.status > 0) return errorStatus(f); break;
    default: break;
  }
  return withDetail("the secure transfer from " + host + " failed", f.transferText.empty()
                    ? "code " + std::to_string(f.transferCode) : f.transferText);
}

std::string refusal(const HttpFailureFacts& f) {
  constexpr int64_t kMiB = 1 << 20;
  switch (f.refusal.kind) {
    case SaveRefusal::kEmpty:
      if (f.status == 204 || f.status == 304) return "the server sent an empty answer (" + errorStatus(f) + ")";
      return "the server sent an empty answer";
    case SaveRefusal::kTooLarge:
      return "the answer is larger than the " +
             (f.refusal.limit % kMiB == 0 ? std::to_string(f.refusal.limit / kMiB) + " MiB"
                                          : std::to_string(f.refusal.limit) + " bytes") +
             " that are read into memory";
    case SaveRefusal::kNotWritten: return "the answer could not be written to its file";
    case SaveRefusal::kUnknown: break;
  }
  return "the answer could not be stored";
}

std::string transportFailure(const HttpFailureFacts& f) {
  const std::string host = printable(f.host);
  if (f.file) return f.error ? "the file could not be read (" + errorWords(f.error) + ")" : "the file could not be read";
  if (f.lookupFailed) return "the name " + host + " does not resolve";
  if (f.signedRedirect) return "the server redirected a signed request to another host";
  if (f.badStatusCode) {
    const std::string code = printable(*f.badStatusCode, 12);
    return "the server's answer has no valid status code" + (code.empty() ? "" : " (\"" + code + "\")");
  }
  if (!f.headerFault.empty())
    return "the server's header lines cannot be read (" + printable(f.headerFault) + ")";
  switch (f.error) {
    case ETIMEDOUT: return timedOut(f);
    case EMSGSIZE: return "the server's header lines are too long";
    case EBADMSG: return "the answer from " + host + " ended inside its header lines";
    case EPROTONOSUPPORT:
      return f.encoding.empty() ? "the answer is in an encoding that cannot be read"
                                : "the answer is in an encoding that cannot be read (" + printable(f.encoding) + ")";
    case EPROTO:
      if (f.foldedHeader) return "the server's header lines are folded, an obsolete form that is refused";
      if (!f.encoding.empty()) return "the server's answer is framed in a way that cannot be read";
      return f.framingCut ? "the answer ended before all of it came" : "the server's chunked answer is broken";
    case ELOOP: return "too many redirects in a row";
    case EHOSTDOWN: return "the server redirected to an address that cannot be read";
    case EINVAL: return "the address has no usable host or port";
    case EAGAIN: return "the server had nothing to read yet";
    default: break;
  }
  if (f.connecting) {
    return f.error ? "could not connect to " + hostPort(f) + " (" + errorWords(f.error) + ")"
                   : "could not connect to " + hostPort(f);
  }
  if (f.error == ECONNRESET || f.error == EPIPE) return "the server " + host + " broke off the connection";
  if (f.error != 0) return "the connection to " + host + " failed (" + errorWords(f.error) + ")";
  if (f.bodyLength >= 0 && f.bodyMissing > 0) return cutBody(f);
  if (f.redirect) return "the server redirected without saying where to";
  if (f.status <= 0 && !f.anyByte) return "the server " + host + " closed the connection without answering";
  if (f.status < 0) return "the server's answer is not HTTP";
  return "the answer from " + host + " broke off";
}

}  // namespace

std::string describeHttpFailure(const HttpFailureFacts& f) {
  switch (f.result) {
    case 0: return "";
    case -3: return refusal(f);
    case -4: return "the download was stopped before it finished";
    case -5:
      if (!f.scheme.empty()) return "addresses beginning with \"" + printable(f.scheme) + ":\" cannot be fetched";
      if (f.redirect) return "the server redirected to a local file, which is refused";
      return "the address does not begin with http:// or https://";
    case -6: return errorStatus(f);
    case -7: return transferFailure(f);
    default: return transportFailure(f);
  }
}

}  // namespace bw
