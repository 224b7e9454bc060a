// news/feed_failure.cpp - the reasons of failed feed updates.
#include "news/feed_failure.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "core/string_procs.h"
#include "platform/clock.h"
#include "web/url.h"

namespace bw {
namespace {

constexpr size_t kReasonTextLimit = 120;

// Outside text made fit for one line of a reason.
std::string plain(std::string_view text) { return printableLine(text.substr(0, kReasonTextLimit)); }

struct HostPort {
  std::string host;
  int32_t port = -1;
};

HostPort hostOf(Text url) {
  URLParts parts = splitURL(url, kURLScheme | kURLHost, nullptr);
  HostPort hp{plain(parts.host.view()), parts.port};
  if (hp.port == -1) hp.port = parts.scheme.view() == "https" ? 443 : 80;
  return hp;
}

bool isNumericHost(std::string_view host) {
  return !host.empty() && (host.front() == '[' || host.find_first_not_of("0123456789.") == std::string_view::npos);
}

const char* statusPhrase(int32_t status) {
  switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 408: return "Request Timeout";
    case 410: return "Gone: the feed has been removed";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return nullptr;
  }
}

std::string errnoReason(int error, Text url) {
  const HostPort hp = hostOf(url);
  const std::string where = hp.host + ":" + std::to_string(hp.port);
  switch (error) {
    case ECONNREFUSED: return "could not connect to " + where + " (connection refused)";
    case ETIMEDOUT: return stallReason(kFeedTimeoutSeconds);
    case EHOSTUNREACH:
      // The resolver answers this when a name has no address.
      if (!isNumericHost(hp.host)) return "the name " + hp.host + " does not resolve";
      return "could not connect to " + where + " (no route to host)";
    case ENETUNREACH: return "could not connect to " + where + " (network unreachable)";
    case ECONNRESET: return "the server at " + where + " broke the connection off";
    case 0: return "the download from " + where + " failed";
    default: return "the download from " + where + " failed (" + std::strerror(error) + ")";
  }
}

// "cXML.parseDocument(); malformed XML, mismatched closing tag (1)" says
// "mismatched closing tag".
std::string readerProblem(std::string_view message) {
  const size_t call = message.find("(); ");
  if (call != std::string_view::npos) message.remove_prefix(call + 4);
  for (std::string_view lead : {"malformed XML, ", "malformed XML"}) {
    if (message.substr(0, lead.size()) == lead) {
      message.remove_prefix(lead.size());
      break;
    }
  }
  // The JSON reader gives its problem in brackets.
  constexpr std::string_view kJsonLead = "malformed JSON (";
  if (message.starts_with(kJsonLead) && message.ends_with(')')) {
    message = message.substr(kJsonLead.size(), message.size() - kJsonLead.size() - 1);
  }
  while (!message.empty() && message.front() == ' ') message.remove_prefix(1);
  // The reader numbers its places of failure "(1)", "(2)": no words for a user.
  if (message.size() >= 3 && message.back() == ')' && message[message.size() - 3] == '(') {
    message.remove_suffix(3);
    while (!message.empty() && message.back() == ' ') message.remove_suffix(1);
  }
  return plain(message);
}

bool startsNoCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != lowerPrefix[i]) return false;
  }
  return true;
}

// Whether the first thing after a byte order mark and white space is "<".
bool startsWithMarkup(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '<';
}

}  // namespace

std::string requestFailureReason(cHTTP& http, Text url) {
  std::string told = http.infoFailureReason();
  if (!told.empty()) return told;
  // A request the client took as answered (an error status that the
  // downloader refuses, a step that stopped early) is worded here.
  const Str& redirected = http.infoRedirectedURL();
  const Text where = redirected.isNil() ? url : Text(redirected);
  if (!http.infoIsOpen()) return errnoReason(0, where);
  const int32_t status = http.infoStatus().status;
  if (status >= 400) {
    const char* phrase = statusPhrase(status);
    return "HTTP " + std::to_string(status) + (phrase ? std::string(" ") + phrase : std::string());
  }
  if (http.protocol() == cHTTP::kHttps && http.infoCurlExit() != 0) {
    return "the secure download from " + hostOf(where).host + " failed (curl exit " +
           std::to_string(http.infoCurlExit()) + ")";
  }
  return errnoReason(http.infoProtocolError(), where);
}

std::string openFailureReason(int32_t result, int32_t protocolError, Text url) {
  if (result == -5) return "the address " + plain(url.view()) + " is not one the program can fetch";
  return errnoReason(protocolError, url);
}

std::string stallReason(int64_t seconds) {
  return "the server did not answer within " + std::to_string(seconds) + " s";
}

std::string resultKindReason(int32_t kind) {
  switch (kind) {
    case kFeedDownloadFailed:
    case 2: return "the download failed";
    case kFeedNoFeedFound: return "the page is HTML and names no feed";
    case kFeedParseFailed: return "the feed could not be read";
    case kFeedNoBody: return "the server sent no document";
    case kFeedAuthFailed: return "authentication failed";
    case kFeedBlocked: return "the server blocks us for a while, after too many requests";
    default: return "error " + std::to_string(kind);
  }
}

std::string parseFailureReason(const ParseFailure& failure) {
  if (looksLikeHtml(failure.text.view())) return "the page is HTML, not a feed";
  if (failure.text.view().find_first_not_of(" \t\r\n") == std::string_view::npos) return "the document is empty";
  // The social timelines are JSON: their reader's words name it.
  const bool json = failure.message.view().starts_with("cJSON");
  std::string problem = readerProblem(failure.message.view());
  if (problem.starts_with("the feed's encoding ")) return problem;
  if (problem.empty() && !json && !startsWithMarkup(failure.text.view())) {
    problem = "the document does not begin with an element";
  }
  std::string reason = json ? "not valid JSON" : "not valid XML";
  if (!problem.empty()) reason += ": " + problem;
  // The reader's own words may name the line already; a document cut off
  // ends on its last line, which says nothing more.
  if (failure.line >= 0 && problem.find(" at line ") == std::string::npos && !problem.ends_with("cut off")) {
    reason += " at line " + std::to_string(failure.line);
  }
  return reason;
}

std::string unreadDocumentReason(const webDataRoot& document) {
  auto unsupported = [](const std::string& format) { return "this feed's format (" + format + ") is not supported"; };
  if (document.findNode("html", nullptr, nullptr, nullptr)) return "the page is HTML, not a feed";
  if (webDataNode* rss = document.findNode("rss", nullptr, nullptr, nullptr)) {
    Str version = rss->getAttribute("version", nullptr, true);
    return unsupported("RSS " + (version.isNil() ? std::string("without a version") : plain(version.view())));
  }
  for (webDataNode* n = document.head(); n; n = n->getNext()) {
    const std::string_view name = n->getName().isNil() ? std::string_view() : n->getName().view();
    const NodeText prefix = n->getNamespace();
    if (name == "RDF") {
      // RSS 0.90 and 1.0 differ in the namespace of the channel and items.
      const Str channels = n->getAttribute("xmlns", nullptr, true);
      return unsupported(channels.view().find("netscape.com/rdf/simple/0.9") != std::string_view::npos ? "RSS 0.90"
                                                                                                       : "RSS 1.0");
    }
    // The namespace the element's own prefix, or the default, names.
    const Str ns = n->getAttribute(prefix.isNil() ? std::string("xmlns") : "xmlns:" + prefix.str(), nullptr, true);
    if (name == "feed" && ns.view().find("purl.org/atom/") != std::string_view::npos) return unsupported("Atom 0.3");
  }
  return "the document is not an RSS or Atom feed";
}

bool looksLikeHtml(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  for (;;) {
    const size_t start = text.find_first_not_of(" \t\r\n\f");
    if (start == std::string_view::npos) return false;
    text.remove_prefix(start);
    if (text.substr(0, 4) != "<!--") break;
    const size_t end = text.find("-->");
    if (end == std::string_view::npos) return false;
    text.remove_prefix(end + 3);
  }
  return startsNoCase(text, "<!doctype html") || startsNoCase(text, "<html") || startsNoCase(text, "<head") ||
         startsNoCase(text, "<body");
}

void noteFeedFailure(newsFeed& feed, std::string reason) {
  feed.downloadFailed = true;
  feed.failureReason = std::move(reason);
  feed.failureTime = readUtcSeconds();
}

std::string feedFailureText(const newsFeed& feed) {
  if (feed.failureReason.empty()) return {};
  const time_t when = static_cast<time_t>(feed.failureTime);
  std::tm local{};
  char stamp[32] = "";
  if (::localtime_r(&when, &local)) std::strftime(stamp, sizeof stamp, " (%Y-%m-%d %H:%M)", &local);
  return feed.failureReason + stamp;
}

}  // namespace bw
