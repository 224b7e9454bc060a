// tools/httpget.cpp - fetches a URL through cHTTP into memory and prints
// the status line, the header lines and the body length, for trying the
// client by hand against any server.
//
//   httpget URL [--post DATA] [--header LINE]... [--ca]
//
// https certificates are always checked; --ca checks them against
// "curl-ca-bundle.crt" in the current folder when it is there (else the
// system's store). An error status, a failed request or a body that does
// not match its stated length prints the status (when one was read) and
// the request's result with the reason in words, and exits with 1.
#include <cerrno>
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

// Counts the body and keeps nothing.
class CountingDestination : public bw::httpSaveDestination {
 public:
  void initSize(int64_t) override {}
  bool append(const char*, int64_t length) override {
    bytes += length;
    return true;
  }
  bool close() override { return true; }
  int64_t bytes = 0;
};

void printStatus(bw::cHTTP& http) {
  bw::cHTTP::Status status = http.infoStatus();
  std::printf("status: %ld %s\n", static_cast<long>(status.status), http.infoStatusText().c_str());
}

int failed(bw::cHTTP& http, int32_t result) {
  if (!http.infoIsOpen()) {
    std::printf("failed: result %ld\nwhy: %s\n", static_cast<long>(result), http.infoFailureReason().c_str());
    return 1;
  }
  if (http.infoStatus().status > 0) printStatus(http);
  const int32_t error = http.infoProtocolError();
  if (result == -1 && error == EPROTONOSUPPORT) std::printf("unsupported content encoding\n");
  std::printf("why: %s\n", http.infoFailureReason().c_str());
  if (result == bw::cHTTP::kCurlFailed) {
    std::printf("failed: result %ld, curl exit code %ld\n", static_cast<long>(result),
                static_cast<long>(http.infoCurlExit()));
  } else {
    std::printf("failed: result %ld, protocol error %ld\n", static_cast<long>(result), static_cast<long>(error));
  }
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

  CountingDestination counter;  // outlives the request, which closes it
  bw::cHTTP http("Brindlework/0.9");
  bw::Str extra = headers.empty() ? bw::Str() : bw::Str(headers);
  bw::Str body = hasPost ? bw::Str(post) : bw::Str();
  bw::cHTTP::OpenResult opened = http.openURL(bw::Str(url), nullptr, extra, body, 20, false, nullptr, useCaBundle);
  if (opened.result != 0) {
    std::printf("failed: result %ld, protocol error %ld\nwhy: %s\n", static_cast<long>(opened.result),
                static_cast<long>(opened.protocolError), http.infoFailureReason().c_str());
    return 1;
  }
  // The driver sends, reads the status, follows redirects and checks the
  // body against its stated length; an error status, a cut body or a
  // failed curl ends in a failure.
  bw::cHTTP::Step step = http.save(&counter, nullptr, 65536);
  if (step.result != 0) return failed(http, step.result);
  printStatus(http);
  for (const bw::Str& line : http.infoHeaderLines()) std::printf("%s\n", line.c_str());
  std::printf("body: %lld bytes\n", static_cast<long long>(counter.bytes));
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
