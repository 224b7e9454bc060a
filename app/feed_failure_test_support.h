// app/feed_failure_test_support.h - one table of the ways a feed fails to
// come in, each made on loopback (an answer of the test's server, a port
// where nothing listens, a name that does not resolve, a server that says
// nothing, a certificate nobody trusts), with the words the user is told:
// the shell's report and the windows' requesters check the same reasons.
#pragma once

#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "web/http_test_support.h"

namespace bw::testing_app {

// A feed whose download or reading fails.
struct FailingFeed {
  std::string name;    // the path served, and the feed's name
  std::string url;
  std::string reason;  // how the reason told begins
  bool keepsDocument;  // a document that did not parse is kept in the data folder
  // The first line of the requester that adding the address brings (a web
  // page is searched for a feed's link instead of read as one).
  std::string addHeading = "Failed to download the feed:";
};

// The feed's name from a request line "GET /name HTTP/1.0".
inline std::string requestedName(const std::string& request) {
  const size_t start = request.find('/');
  return start == std::string::npos ? "" : request.substr(start + 1, request.find(' ', start) - start - 1);
}

inline const std::string kNotWellFormedFeed = "<rss version=\"2.0\">\n<channel>\n<title>a</b>";

// The answer the test's server gives for a failing feed's path; none for a
// path of the table's that is not the server's, or of no failing feed.
inline std::optional<test::Reply> failingFeedAnswer(const std::string& name) {
  if (name == "stall") return test::Reply{{}, 0, true, 12000};
  const std::string ok = "HTTP/1.0 200 OK\r\n";
  const std::pair<const char*, std::string> answers[] = {
      {"gone404", "HTTP/1.0 404 Not Found\r\n\r\nno"},
      {"gone410", "HTTP/1.0 410 Gone\r\n\r\nno"},
      {"broken500", "HTTP/1.0 500 Internal Server Error\r\n\r\noops"},
      {"page", ok + "Content-Type: text/html\r\n\r\n<!DOCTYPE html>\n<html><body><p>Sorry<br></body></html>"},
      {"badxml", ok + "\r\n" + kNotWellFormedFeed},
      {"notafeed", ok + "Content-Type: application/xml\r\n\r\n<?xml version=\"1.0\"?>\n<catalog><book/></catalog>"},
  };
  for (const auto& [path, answer] : answers)
    if (name == path) return test::Reply{{answer}};
  return std::nullopt;
}

// Every failing feed: base is the server's "http://127.0.0.1:PORT/"; tls is
// an https address of a server whose certificate is its own ("" leaves that
// kind out).
inline std::vector<FailingFeed> failingFeeds(const std::string& base, const std::string& tls) {
  int refused = 0;
  ::close(test::listenLoopback(1, &refused));  // nothing listens there now
  std::vector<FailingFeed> feeds = {
      {"gone404", base + "gone404", "HTTP 404 Not Found", false},
      {"gone410", base + "gone410", "HTTP 410 Gone: the feed has been removed", false},
      {"broken500", base + "broken500", "HTTP 500 Internal Server Error", false},
      {"page", base + "page", "the page is HTML, not a feed", true, "No news feed found for:"},
      {"badxml", base + "badxml", "not valid XML: mismatched closing tag at line 3", true, "Parsing error on line 3:"},
      {"notafeed", base + "notafeed", "the document is not an RSS or Atom feed", false, "Failed to add the feed:"},
      {"refused", "http://127.0.0.1:" + std::to_string(refused) + "/refused",
       "could not connect to 127.0.0.1:" + std::to_string(refused) + " (connection refused)", false},
      {"unknown", "http://nothing.invalid/unknown", "the name nothing.invalid does not resolve", false},
      {"stall", base + "stall", "the server did not answer within 10 s", false},
  };
  if (!tls.empty()) feeds.push_back({"untrusted", tls, "the certificate of 127.0.0.1 is not trusted", false});
  return feeds;
}

}  // namespace bw::testing_app
