// platform/dos_procs.cpp - string-filling DOS procedures and error texts.
#include "platform/dos_procs.h"

#include <algorithm>
#include <string>

#include "platform/dos_env.h"
#include "platform/dos_errors.h"
#include "platform/native_path.h"

namespace bw {
namespace {

// Puts a name into text when it fits a buffer of capacity bytes (the
// terminating zero counted); else IoErr 120.
bool fitName(Str& text, const std::string& name) {
  if (static_cast<int64_t>(name.size()) >= text.capacity()) {
    dos::setIoErr(dos::kErrorLineTooLong);
    return false;
  }
  text.assign(name);
  return true;
}

}  // namespace

int32_t dosFaultInto(int32_t code, Text header, Str& text) {
  std::string message = dos::fault(code, header);
  size_t room = text.capacity() > 0 ? static_cast<size_t>(text.capacity() - 1) : 0;
  if (message.size() > room) message.resize(room);
  text.assign(message);
  return text.length();
}

bool dosGetVarInto(Text name, Str& text, uint32_t flags) {
  std::optional<std::string> value = dos::getVar(name, flags);
  if (!value) return false;
  size_t room = text.capacity() > 0 ? static_cast<size_t>(text.capacity() - 1) : 0;
  int32_t full = static_cast<int32_t>(std::min<size_t>(value->size(), INT32_MAX));
  text.assign(std::string_view(*value).substr(0, room));
  dos::setIoErr(full);
  return true;
}

bool dosAddPartInto(Str& path, Text name) {
  std::string joined(path.view());
  if (!dos::addPart(joined, name.nulView(), static_cast<size_t>(path.capacity()) + 1)) return false;
  path.assign(joined);
  return true;
}

bool dosNameFromFHInto(Str& text, dos::FileHandle& handle) {
  std::optional<std::string> name = handle.name();
  return name && fitName(text, *name);
}

bool dosNameFromLockInto(Str& text, const dos::Lock& lock) {
  std::optional<std::string> name = dos::nameFromLock(lock);
  return name && fitName(text, *name);
}

bool dosCurrentDirNameInto(Str& text) {
  std::optional<std::string> name = dos::currentDirName();
  return name && fitName(text, *name);
}

bool dosProgramNameInto(Str& text) { return fitName(text, dos::programName()); }

bool dosSetVar(Text name, Text value, uint32_t flags) { return dos::setVar(name, value, flags); }

Str faultText(int32_t code, Text header) {
  int32_t headerLength = header.isNil() ? 0 : header.nulLength();
  Str text = Str::withCapacity(headerLength + 120);
  dosFaultInto(code, header.isNil() ? Text("") : header, text);
  return text;
}

Str ioErrText(Text defaultText) {
  int32_t code = dos::ioErr();
  if (code != 0) return faultText(code, defaultText);
  if (defaultText.isNil()) return Str();
  return Str(defaultText.view());
}

Str stringToBSTR(Text text, int32_t length) {
  std::string_view chars = text.isNil() ? std::string_view() : text.view();
  if (length < 0) length = static_cast<int32_t>(chars.size());
  chars = chars.substr(0, static_cast<size_t>(length));
  Str bstr = Str::withCapacity(length + 1);
  bstr.append(static_cast<char>(static_cast<uint8_t>(length % 256)));
  bstr.append(chars);
  return bstr;
}

Str bstrToString(const Str& bstr) {
  if (bstr.isNil() || bstr.empty()) return Str::withCapacity(0);
  size_t count = static_cast<uint8_t>(bstr[0]);
  std::string_view chars = bstr.view().substr(1);
  return Str::withCapacity(static_cast<int32_t>(count), chars.substr(0, std::min(count, chars.size())));
}

int64_t dosFileSize64(dos::FileHandle& handle, bool leaveAtEnd) {
  int64_t size = handle.size();
  if (size >= 0) return size;
  int64_t saved = leaveAtEnd ? 0 : handle.position();
  if (!handle.setPosition(0, dos::kOffsetEnd)) return -1;
  size = handle.position();
  if (!leaveAtEnd && saved >= 0) handle.setPosition(saved, dos::kOffsetBeginning);
  return size;
}

dos::Lock lockWithoutRequesters(Text name, int32_t access) { return dos::lock(name, access); }

bool makeDosLink(Text name, Text destination, bool soft) { return dos::makeLink(name, destination, soft); }

}  // namespace bw
