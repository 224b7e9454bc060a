// core/format_text.cpp - the message formatter.
#include "core/format_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace bw {
namespace {

struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  char conversion = 0;
};

// Reads a conversion after the "%" at format[i]; answers the index past it,
// or i when it is not one.
size_t readSpec(std::string_view format, size_t i, Spec& spec) {
  size_t p = i + 1;
  while (p < format.size() && std::string_view("-0+ #").find(format[p]) != std::string_view::npos) {
    spec.flags += format[p++];
  }
  auto number = [&](int& into) {
    if (p >= format.size() || format[p] < '0' || format[p] > '9') return false;
    into = 0;
    while (p < format.size() && format[p] >= '0' && format[p] <= '9') {
      into = std::min(kFormatFieldLimit, into * 10 + (format[p++] - '0'));
    }
    return true;
  };
  number(spec.width);
  if (p < format.size() && format[p] == '.') {
    ++p;
    if (!number(spec.precision)) spec.precision = 0;
  }
  if (p < format.size() && format[p] == 'l') ++p;
  if (p < format.size() && (format[p] == 's' || format[p] == 'd' || format[p] == 'x')) {
    spec.conversion = format[p];
    return p + 1;
  }
  return i;
}

std::string padded(std::string value, const Spec& spec) {
  if (spec.width < 0 || static_cast<int>(value.size()) >= spec.width) return value;
  std::string pad(static_cast<size_t>(spec.width) - value.size(), ' ');
  return spec.flags.find('-') != std::string::npos ? value + pad : pad + value;
}

std::string number(int64_t value, const Spec& spec) {
  std::string fmt = "%" + spec.flags;
  if (spec.width >= 0) fmt += std::to_string(spec.width);
  if (spec.precision >= 0) fmt += "." + std::to_string(spec.precision);
  fmt += spec.conversion == 'x' ? PRIx64 : PRId64;
  char buffer[2 * kFormatFieldLimit + 32];
  int n = std::snprintf(buffer, sizeof buffer, fmt.c_str(), value);
  return std::string(buffer, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1)));
}

std::string convert(const FormatArgument* argument, const Spec& spec) {
  if (spec.conversion == 's') {
    std::string text;
    if (argument) text = std::holds_alternative<std::string>(*argument) ? std::get<std::string>(*argument)
                                                                           : std::to_string(std::get<int64_t>(*argument));
    if (spec.precision >= 0 && static_cast<int>(text.size()) > spec.precision) text.resize(static_cast<size_t>(spec.precision));
    return padded(std::move(text), spec);
  }
  if (argument && std::holds_alternative<std::string>(*argument)) return padded(std::get<std::string>(*argument), spec);
  return number(argument ? std::get<int64_t>(*argument) : 0, spec);
}

}  // namespace

FormattedText formatTextMarked(std::string_view format, const FormatArguments* arguments) {
  FormattedText out;
  auto append = [&](std::string_view text, bool fromArgument) {
    out.text += text;
    out.fromArgument.insert(out.fromArgument.end(), text.size(), fromArgument);
  };
  if (!arguments) {
    append(format, false);
    return out;
  }
  size_t next = 0;
  size_t i = 0;
  while (i < format.size()) {
    size_t percent = format.find('%', i);
    if (percent == std::string_view::npos) percent = format.size();
    append(format.substr(i, percent - i), false);
    i = percent;
    if (i >= format.size()) break;
    if (i + 1 < format.size() && format[i + 1] == '%') {
      append("%", false);
      i += 2;
      continue;
    }
    Spec spec;
    size_t past = readSpec(format, i, spec);
    if (past == i) {
      append("%", false);
      ++i;
      continue;
    }
    const FormatArgument* argument = next < arguments->size() ? &(*arguments)[next] : nullptr;
    ++next;
    append(convert(argument, spec), true);
    i = past;
  }
  return out;
}

}  // namespace bw
