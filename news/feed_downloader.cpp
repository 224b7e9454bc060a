// news/feed_downloader.cpp - downloadXML: one feed request over cHTTP into
// a memory buffer. Its document step is in feed_discovery.cpp.
#include "news/feed_downloader.h"

#include "core/exception.h"
#include "news/feed_failure.h"
#include "news/news_config.h"

namespace bw {

downloadXML::downloadXML()
    : ownHttp_(std::make_unique<cHTTP>(Text(newsConfig::kUserAgent))), reader_(std::make_unique<cXML>()) {}

downloadXML::~downloadXML() {
  if (http_) close();
}

DownloaderOpen downloadXML::open(Text url, cHTTP* http, bool blocking) {
  if (http_) raise("EMU", "downloadXML.open(); previous call was never closed");
  if (dest_) raise("BUG", "downloadXML.open(); somehow dest<>NIL despite http=NIL");
  if (!url_.isNil()) raise("BUG", "downloadXML.open(); somehow url<>NILS despite http=NIL");
  cHTTP* client = http ? http : ownHttp_.get();
  // Feed downloads do not ask for the certificate bundle file; https through
  // curl checks certificates in any case.
  cHTTP::OpenResult r = client->openURL(url, nullptr, nullptr, nullptr, kFeedTimeoutSeconds, !blocking, nullptr, false);
  if (r.result != 0) {
    std::string reason = client->infoFailureReason();
    if (reason.empty()) reason = openFailureReason(r.result, r.protocolError, url);
    return {kFeedDownloadFailed, r.result, r.protocolError, std::move(reason)};
  }
  http_ = client;
  url_ = Str(url.view());
  failureText_ = Str();
  failureLine_ = -1;
  failureMessage_ = Str();
  failureReason_.clear();
  return {};
}

void downloadXML::saveInit(bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) {
  if (!http_) raise("EMU", "downloadXML.saveInit(); not open");
  if (!doNotSupplyDestYet) {
    dest_ = std::make_unique<httpSaveToBuffer>();
  } else if (callback) {
    raise("EMU", "downloadXML.saveInit(); callback supplied when doNotSupplyDestYet=TRUE");
  }
  http_->saveInit(dest_.get(), callback, bufSize);
}

DownloadStep downloadXML::saveAppend(bool supplyDestNow, fHttpSaveCallback* callback) {
  if (!http_) raise("EMU", "downloadXML.saveAppend(); not open");
  httpSaveToBuffer* handed = nullptr;
  if (supplyDestNow) {
    dest_ = std::make_unique<httpSaveToBuffer>();
    handed = dest_.get();
  } else if (callback) {
    raise("EMU", "downloadXML.saveAppend(); callback supplied when supplyDestNow=FALSE");
  }
  cHTTP::Step s = http_->saveAppend(handed, callback);
  DownloadStep step{s.result == 0 ? kFeedOk : kFeedDownloadFailed, s.finished, s.result};
  // A dead feed fails whatever the transport: an error page is no document.
  if (step.failed == 0 && step.finished && http_->infoStatus().status >= 400) {
    step.failed = kFeedDownloadFailed;
    step.finished = false;
    step.errorCode = cHTTP::kErrorStatus;
  }
  if (step.failed != 0) failureReason_ = requestFailureReason(*http_, url_);
  // A memory body refuses to close on nothing: an answer that came whole
  // without a byte is an empty document, not a full disk.
  if (s.result == -3 && dest_ && dest_->total() == 0 && http_->infoStatus().status < 400) {
    failureReason_ = "the document is empty";
  }
  return step;
}

void downloadXML::close() {
  url_ = Str();
  if (http_) http_->close();
  http_ = nullptr;
  dest_.reset();
}

}  // namespace bw
