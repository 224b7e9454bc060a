// web/json_test_support.h - test helpers of the JSON and HTML reader tests:
// the modules they need around each test, parsing into a tree or a message,
// and capturing what a procedure prints.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "web/html_reader.h"
#include "web/json_reader.h"
#include "web/web_test_support.h"

namespace bw {

class JsonTest : public WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    initJSONModule();
    initHTMLModule();
  }
  void TearDown() override {
    endHTMLModule();
    endJSONModule();
    WebTest::TearDown();
  }

  // The document read by a reader whose system charset is ISO-8859-1; NIL
  // with the message in `message` when it fails.
  std::unique_ptr<webDataRoot> parseJson(std::string_view json, std::string* message = nullptr,
                                         const TranslateEntry* extra = nullptr) {
    cJSON reader(latin1_, extra);
    std::string buffer(json);
    JsonParseResult r = reader.parseDocument(buffer.c_str(), static_cast<int32_t>(buffer.size() + 1));
    if (message) *message = r.message.isNil() ? std::string() : r.message.str();
    return std::move(r.root);
  }
};

// What f writes on the standard output.
inline std::string capturedStdout(const std::function<void()>& f) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  try {
    f();
  } catch (...) {
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    throw;
  }
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// What f writes to the stream it is given.
inline std::string printedTo(const std::function<void(std::FILE*)>& f) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&data, &size);
  try {
    f(out);
  } catch (...) {
    std::fclose(out);
    std::free(data);
    throw;
  }
  std::fclose(out);
  std::string s(data, size);
  std::free(data);
  return s;
}

}  // namespace bw
