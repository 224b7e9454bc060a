// social/json_answer.cpp - the saved answer of a social API request.
#include "social/json_answer.h"

#include <string>

#include "core/exception.h"

namespace bw {

void JsonAnswer::begin() {
  arming_ = {};
  parseFailed_ = false;
}

void JsonAnswer::saveInit(cHTTP& http, bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) {
  if (!doNotSupplyDestYet) {
    dest_ = std::make_unique<httpSaveToBuffer>();
    arming_.supplied = true;
    arming_.callback = callback;
  } else if (callback) {
    raise("EMU", std::string(owner_) + ".saveInit(); callback supplied when doNotSupplyDestYet=TRUE");
  } else {
    arming_.supplied = false;
    arming_.callback = nullptr;
  }
  arming_.bufSize = bufSize;
  http.saveInit(doNotSupplyDestYet ? nullptr : dest_.get(), callback, bufSize);
}

void JsonAnswer::rearm(cHTTP& http, const Arming& arming) {
  saveInit(http, !arming.supplied, arming.supplied ? arming.callback : nullptr, arming.bufSize);
}

JsonAnswer::Step JsonAnswer::append(cHTTP& http, bool supplyDestNow, fHttpSaveCallback* callback) {
  httpSaveToBuffer* handed = nullptr;
  if (supplyDestNow) {
    if (arming_.supplied) raise("EMU", std::string(owner_) + ".saveAppend(); dest has already been supplied");
    dest_ = std::make_unique<httpSaveToBuffer>();
    arming_.supplied = true;
    arming_.callback = callback;
    handed = dest_.get();
  } else if (callback) {
    raise("EMU", std::string(owner_) + ".saveAppend(); callback supplied when supplyDestNow=FALSE");
  }
  const cHTTP::Step s = http.saveAppend(handed, callback);
  // An error status fails the answer whatever the transport.
  int32_t errorCode = s.result;
  if (errorCode == 0 && s.finished && http.infoStatus().status >= 400) errorCode = cHTTP::kErrorStatus;
  return {s.finished, errorCode};
}

std::unique_ptr<webDataRoot> JsonAnswer::read() {
  httpSaveToBuffer::Buffer body = dest_ ? dest_->getBuffer() : httpSaveToBuffer::Buffer{};
  const char* text = body.data ? body.data.get() : "";
  const int32_t length = body.data ? static_cast<int32_t>(body.total - 1) : 0;
  JsonParseResult parsed = reader_->parseDocument(text, length);
  if (parsed.root) return std::move(parsed.root);
  failureText_ = Str(std::string_view(text, static_cast<size_t>(length)));
  failureLine_ = reader_->infoLineNumber();
  failureMessage_ = std::move(parsed.message);
  parseFailed_ = true;
  return nullptr;
}

}  // namespace bw
