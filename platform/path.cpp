// platform/path.cpp - internal path syntax: conversion to and from native
// form, validity tests, path surgery, and the cPath object's own methods.
#include "platform/path.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/exception.h"

namespace bw {
namespace {

constexpr std::string_view kExportInvalid = "cPath(); ExportPath(); path is invalid";

bool endsWithSlash(std::string_view p) { return !p.empty() && p.back() == '/'; }

bool isDirForm(std::string_view p) { return p.empty() || p.back() == '/'; }

// Inserts "/" right after the first ":", when there is one.
void slashAfterColon(std::string& p) {
  size_t colon = p.find(':');
  if (colon != std::string::npos) p.insert(colon + 1, 1, '/');
}

// True when the path holds a ":" that is not followed by "/".
bool colonWithoutSlash(std::string_view p) {
  size_t colon = p.find(':');
  return colon != std::string_view::npos && (colon + 1 >= p.size() || p[colon + 1] != '/');
}

std::string_view requireText(Text t, std::string_view code, std::string_view message) {
  if (t.isNil()) raise(code, message);
  return t.view();
}

}  // namespace

Str cPath::ImportFilePath(Text nativePath) {
  if (nativePath.isNil()) return Str();
  std::string p(nativePath.view());
  int32_t capacity = static_cast<int32_t>(p.size()) + 1;
  slashAfterColon(p);
  if (endsWithSlash(p)) p.pop_back();
  return Str::withCapacity(capacity, p);
}

Str cPath::ImportDirPath(Text nativePath) {
  if (nativePath.isNil()) return Str();
  std::string p(nativePath.view());
  if (p.empty()) return Str::withCapacity(0);
  if (endsWithSlash(p)) p.pop_back();
  int32_t capacity = static_cast<int32_t>(p.size()) + 2;
  slashAfterColon(p);
  if (!endsWithSlash(p)) p.push_back('/');
  return Str::withCapacity(capacity, p);
}

Str cPath::ExportPath(Text path) {
  if (path.isNil()) return Str();
  std::string_view p = path.view();
  bool dir = isDirForm(p);
  if (dir ? InvalidDirPath(path) : InvalidFilePath(path)) raise("EPU", kExportInvalid);
  // A directory's trailing "/" is dropped; the empty path stays empty.
  size_t nativeEnd = dir && !p.empty() ? p.size() - 1 : p.size();
  Str out = Str::withCapacity(std::max<int32_t>(static_cast<int32_t>(nativeEnd), 1));
  size_t colon = p.find(':');
  if (colon == std::string_view::npos) {
    out.assign(p.substr(0, nativeEnd));
  } else {
    // Valid paths have "/" right after the first ":"; it is left out.
    out.assign(p.substr(0, colon + 1));
    if (colon + 2 < nativeEnd) out.append(p.substr(colon + 2, nativeEnd - (colon + 2)));
  }
  return out;
}

bool cPath::InvalidDirName(Text dirName) {
  std::string_view n = requireText(dirName, "EPU", "cPath; InvalidDirName(); dirName=NILA");
  if (n.empty() || n.find(':') != std::string_view::npos) return true;
  size_t slash = n.find('/');
  return slash != std::string_view::npos && slash != n.size() - 1;
}

bool cPath::InvalidFileName(Text fileName) {
  std::string_view n = requireText(fileName, "EPU", "cPath; InvalidFileName(); fileName=NILA");
  return n.empty() || n.find_first_of("/:") != std::string_view::npos;
}

bool cPath::InvalidDirPath(Text dirPath) {
  std::string_view p = requireText(dirPath, "EPU", "cPath; InvalidDirPath(); dirPath=NILA");
  if (p.empty()) return false;
  if (!endsWithSlash(p)) return true;
  return colonWithoutSlash(p);
}

bool cPath::InvalidFilePath(Text filePath) {
  std::string_view p = requireText(filePath, "EPU", "cPath; InvalidFilePath(); filePath=NILA");
  if (p.empty() || endsWithSlash(p)) return true;
  return colonWithoutSlash(p);
}

PathNameSpan cPath::FindName(Text path) {
  std::string_view p = requireText(path, "EPU", "cPath; FindName(); path=NILA");
  int32_t n = static_cast<int32_t>(p.size());
  if (n == 0) return {0, 0};
  int32_t i = n - 1;
  if (p[static_cast<size_t>(i)] == '/') --i;  // a directory's "/" belongs to its name
  while (i >= 0 && p[static_cast<size_t>(i)] != '/') --i;
  int32_t start = i + 1;
  return {start, n - start};
}

Str cPath::ExtractName(Text path) {
  PathNameSpan span = FindName(path);
  return Str::withCapacity(span.length,
                           path.view().substr(static_cast<size_t>(span.position), static_cast<size_t>(span.length)));
}

Str cPath::ExtractSubPath(Text path) {
  std::string_view p = requireText(path, "EPU", "cPath; ExtractSubPath(); path=NIL");
  size_t end = 0;
  if (p.size() >= 2) {
    size_t slash = p.rfind('/', p.size() - 2);
    if (slash != std::string_view::npos) end = slash + 1;
  }
  return Str::withCapacity(static_cast<int32_t>(end), p.substr(0, end));
}

Str cPath::ExtractDevice(Text path) {
  std::string_view p = requireText(path, "EPU", "cPath; ExtractDevice(); path=NILA");
  size_t colon = p.find(':');
  if (colon == std::string_view::npos) return Str::withCapacity(0);
  Str out = Str::withCapacity(static_cast<int32_t>(colon) + 2, p.substr(0, colon + 1));
  out.append('/');
  return out;
}

bool cPath::setName(Text newFileName) {
  if (newFileName.isNil()) raise("EMU", "cPath.setName(); newFileName=NILA");
  Text current = getPath();
  PathNameSpan span = FindName(current);
  std::string next(current.view().substr(0, static_cast<size_t>(span.position)));
  next.append(newFileName.view());
  bool ok = setPath(Text(next));
  if (!ok) errorSource_ = "cPath.setName()";
  return ok;
}

bool cPath::setSubPath(Text path) {
  if (path.isNil()) raise("EMU", "cPath.setSubPath(); path=NILA");
  Str name = ExtractName(getPath());
  std::string next(path.view());
  next.append(name.view());
  bool ok = setPath(Text(next));
  if (!ok) errorSource_ = "cPath.setSubPath()";
  return ok;
}

void cPath::setError(const char* source, Text text) {
  errorSource_ = source;
  error_ = text.isNil() ? Str() : Str(text.view());
}

void cPath::clearError() {
  errorSource_ = nullptr;
  error_ = Str();
}

}  // namespace bw
