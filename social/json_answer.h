// social/json_answer.h - the answer side the social downloaders share: where
// an API answer is saved (a buffer supplied at saveInit or at the first
// saveAppend), the rule that a status of 400 or more fails the answer, and
// the finished answer read as JSON with its failure kept for
// infoParseFailure.
//
// Invariants:
//   1. A destination is supplied once per request: saveInit without
//      doNotSupplyDestYet, or saveAppend with supplyDestNow; a second
//      supply, or a callback without a supply, raises "EMU"
//      "<owner>.<method>(); ...".
//   2. rearm gives the next request of the same download the destination,
//      callback and buffer size the request before it had.
//   3. read never raises on the answer's bytes: a body that is not JSON
//      answers NIL and is kept (raw text, line, message) until begin.
#pragma once

#include <cstdint>
#include <memory>

#include "core/str.h"
#include "news/feed_downloader.h"
#include "web/http.h"
#include "web/http_save.h"
#include "web/json_reader.h"
#include "web/web_data.h"

namespace bw {

class JsonAnswer {
 public:
  // owner: the class name the "EMU" texts carry.
  JsonAnswer(const char* owner, std::unique_ptr<cJSON> reader) : owner_(owner), reader_(std::move(reader)) {}

  // How a request was armed, to arm the next one alike.
  struct Arming {
    bool supplied = false;
    fHttpSaveCallback* callback = nullptr;
    int32_t bufSize = kFeedBufferSize;
  };
  // A new download: nothing supplied, no parse failure.
  void begin();
  void saveInit(cHTTP& http, bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize);
  Arming arming() const { return arming_; }
  void rearm(cHTTP& http, const Arming& arming);

  struct Step {
    bool finished = false;
    int32_t errorCode = 0;  // the transfer's, or cHTTP::kErrorStatus for a status >= 400
  };
  Step append(cHTTP& http, bool supplyDestNow, fHttpSaveCallback* callback);

  // The finished answer parsed; NIL after a parse failure (kept).
  std::unique_ptr<webDataRoot> read();
  // The request closed: its destination goes.
  void release() { dest_.reset(); }
  bool hasDestination() const { return dest_ != nullptr; }
  bool parseFailed() const { return parseFailed_; }
  ParseFailure failure() const { return {failureText_, failureLine_, failureMessage_}; }
  cJSON& reader() { return *reader_; }

 private:
  const char* owner_;
  std::unique_ptr<cJSON> reader_;
  std::unique_ptr<httpSaveToBuffer> dest_;
  Arming arming_;
  bool parseFailed_ = false;
  Str failureText_;
  int32_t failureLine_ = -1;
  Str failureMessage_;
};

}  // namespace bw
