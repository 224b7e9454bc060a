// news/feed_downloader.h - downloadFeed, the one protocol every feed
// downloader follows, and downloadXML, the downloader of RSS and Atom feeds
// (and of web pages that announce them) over cHTTP.
//
// Every downloader is driven the same way: construct, open, saveInit(TRUE,
// NIL, 1500), saveAppend(TRUE, NIL) once and then saveAppend(FALSE, NIL)
// until it answers finished or failed, updateFeedInfo, getDocument, close.
//
// Invariants:
//   1. A result kind (failed of open and saveAppend, kind of getDocument) is
//      one of the FeedResultKind values; 0 is success.
//   2. downloadXML holds a request (infoHTTP non-NIL) exactly between a
//      successful open and close; its memory destination and url exist only
//      then. open while open raises "EMU" "downloadXML.open(); previous call
//      was never closed"; a callback with the wrong flag raises "EMU" too.
//   3. The parse-failure fields survive close and are reset by the next
//      successful open.
//   4. A transfer that ends on an HTTP status of 400 or more is a failure
//      (failed 1), over http as over https.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/object.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/news_objects.h"
#include "web/http.h"
#include "web/http_save.h"
#include "web/web_data.h"
#include "web/xml_reader.h"

namespace bw {

// Result kinds of a download; any other value is an error number without a
// message of its own.
enum FeedResultKind : int32_t {
  kFeedOk = 0,              // with a document; without one: the user cancelled
  kFeedDownloadFailed = 1,  // 2 means the same
  kFeedNoFeedFound = 3,     // a web page announced no feed
  kFeedParseFailed = 4,     // infoParseFailure tells more
  kFeedNoBody = 5,
  kFeedAuthFailed = 6,
  kFeedBlocked = 7,         // too many requests
};

inline constexpr int32_t kFeedBufferSize = 1500;
// A feed request fails after this long without a byte.
inline constexpr int32_t kFeedTimeoutSeconds = 10;

struct DownloadStep {
  int32_t failed = 0;     // 0, or a result kind
  bool finished = false;
  int32_t errorCode = 0;  // the request's own code (cHTTP::saveAppend)
};

struct FeedDocument {
  std::unique_ptr<webDataRoot> document;  // NIL unless kind is 0 with a document
  int32_t kind = kFeedOk;
  Str feedURL;  // the address discovery chose, else NIL
};

struct ParseFailure {
  Str text;           // the raw document
  int32_t line = -1;
  Str message;        // the reader's message, NIL when it gave none
};

class downloadFeed : public class_base {
  BW_CLASS(downloadFeed, class_base)
 public:
  virtual void saveInit(bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) {
    (void)doNotSupplyDestYet, (void)callback, (void)bufSize;
  }
  virtual DownloadStep saveAppend(bool supplyDestNow, fHttpSaveCallback* callback) = 0;
  virtual FeedDocument getDocument(bool isNewFeed) = 0;
  virtual void close() {}
  // Writes back what the download learnt (tokens of the social kinds).
  virtual void updateFeedInfo(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root) { (void)soup, (void)root; }
  // The request under way, or NIL: a downloader without one is driven
  // without waiting for readiness.
  virtual cHTTP* infoHTTP() { return nullptr; }
  virtual ParseFailure infoParseFailure() const = 0;
  // Why the last step that answered failed, in words; empty when the
  // downloader cannot tell.
  virtual std::string infoFailureReason() const { return {}; }
};

struct DownloaderOpen {
  int32_t failed = 0;     // 0, or kind 1
  int32_t errorCode = 0;  // cHTTP::openURL's result
  int32_t detail = 0;     // and its protocol error
  std::string reason;     // why it failed, in words
};

class downloadXML : public downloadFeed {
  BW_CLASS(downloadXML, downloadFeed)
 public:
  downloadXML();
  ~downloadXML() override;
  downloadXML(const downloadXML&) = delete;
  downloadXML& operator=(const downloadXML&) = delete;

  // Opens url on http (NIL: the downloader's own client); blocking FALSE
  // makes the request non-blocking.
  DownloaderOpen open(Text url, cHTTP* http, bool blocking);

  void saveInit(bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) override;
  DownloadStep saveAppend(bool supplyDestNow, fHttpSaveCallback* callback) override;
  // The received body as a document; a web page of a feed being added is
  // searched for the feeds it announces (feed_discovery.cpp).
  FeedDocument getDocument(bool isNewFeed) override { return discoverFeeds(isNewFeed); }
  void close() override;
  cHTTP* infoHTTP() override { return http_; }
  ParseFailure infoParseFailure() const override { return {failureText_, failureLine_, failureMessage_}; }
  std::string infoFailureReason() const override { return failureReason_; }
  const Str& infoURL() const { return url_; }

 private:
  FeedDocument discoverFeeds(bool isNewFeed);
  FeedDocument downloadChosenFeed(const Str& chosen);

  std::unique_ptr<cHTTP> ownHttp_;
  std::unique_ptr<cXML> reader_;
  Str url_;
  cHTTP* http_ = nullptr;
  std::unique_ptr<httpSaveToBuffer> dest_;
  Str failureText_;
  int32_t failureLine_ = -1;
  Str failureMessage_;
  std::string failureReason_;
};

}  // namespace bw
