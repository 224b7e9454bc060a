// tools/httpget.cpp - fetches a URL through cHTTP into memory and prints
// the status line, the header lines and the body length, for trying the
// client by hand against any server.
//
//   httpget URL [--post DATA] [--header LINE]... [--ca]
//
// --ca asks curl to check https certificates (against "curl-ca-bundle.crt"
// in the current folder when it is there, else the system's). A failure
// prints the request's result and protocol error and exits with 1.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/exception.h"
#include "web/http.h"

namespace {

int usage() {
  std::fputs("usage: httpget URL [--post DATA] [--header LINE]... [--ca]\n", stderr);
  return 2;
}

int failed(bw::cHTTP& http, int32_t result) {
  int32_t error = http.infoIsOpen() ? http.infoProtocolError() : 0;
  std::printf("failed: result %ld, protocol error %ld\n", static_cast<long>(result), static_cast<long>(error));
  return 1;
}

int fetch(int argc, char** argv) {
  std::string url, post, headers;
  bool hasPost = false, useCaBundle = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--post") == 0 && i + 1 < argc) {
      post = argv[++i];
      hasPost = true;
    } else if (std::strcmp(argv[i], "--header") == 0 && i + 1 < argc) {
      if (!headers.empty()) headers += '\n';
      headers += argv[++i];
    } else if (std::strcmp(argv[i], "--ca") == 0) {
      useCaBundle = true;
    } else if (url.empty() && argv[i][0] != '-') {
      url = argv[i];
    } else {
      return usage();
    }
  }
  if (url.empty()) return usage();

  bw::cHTTP http("Brindlework/0.9");
  bw::Str extra = headers.empty() ? bw::Str() : bw::Str(headers);
  bw::Str body = hasPost ? bw::Str(post) : bw::Str();
  bw::cHTTP::OpenResult opened = http.openURL(bw::Str(url), nullptr, extra, body, 20, false, nullptr, useCaBundle);
  if (opened.result != 0) {
    std::printf("failed: result %ld, protocol error %ld\n", static_cast<long>(opened.result),
                static_cast<long>(opened.protocolError));
    return 1;
  }
  // The driver sends, reads the status and follows redirects; the header
  // lines are then read here so that they can be shown.
  http.saveInit(nullptr, nullptr, 65536);
  while (http.state() != bw::cHTTP::kStatusRead) {
    bw::cHTTP::Step step = http.saveAppend(nullptr, nullptr);
    if (step.result != 0) return failed(http, step.result);
  }
  bw::cHTTP::Header header = http.getHeader(65536);  // also reads the reason phrase
  if (header.result != 0) return failed(http, header.result);
  bw::cHTTP::Status status = http.infoStatus();
  std::printf("status: %ld %s\n", static_cast<long>(status.status), http.infoStatusText().c_str());
  for (const bw::Str& line : header.lines) std::printf("%s\n", line.c_str());
  size_t length = header.earlyBody.size();
  std::vector<char> buffer(65536);
  for (;;) {
    int64_t n = http.get(buffer.data(), static_cast<int64_t>(buffer.size()));
    if (n < 0) return failed(http, -1);
    if (n == 0) break;
    length += static_cast<size_t>(n);
  }
  std::printf("body: %zu bytes\n", length);
  if (!http.infoRedirectedURL().isNil()) std::printf("moved permanently to: %s\n", http.infoRedirectedURL().c_str());
  http.close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bw::initHTTPModule();
  int rc;
  try {
    rc = fetch(argc, argv);
  } catch (const bw::eException& e) {
    std::printf("EXCEPTION: %s %s\n", e.code().c_str(), e.message().c_str());
    rc = 1;
  }
  bw::endHTTPModule();
  return rc;
}
