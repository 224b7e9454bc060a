// bench/bench_convert.cpp - text conversion speed, beside glibc's iconv(3)
// on the same buffers: UTF-8 to ISO-8859-1 and back over 8 MB of
// ASCII-heavy and 8 MB of accent-heavy text; and translateStr with a
// 250-pair entity dictionary over 1 MB and 8 MB (growth should be linear).
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/charset.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"

namespace {

constexpr size_t kEightMB = 8u << 20;

// Words of running text; `accents` of every 100 words are accented.
std::string makeText(size_t bytes, int accents, bool utf8) {
  static const char* plain[] = {"the", "news", "reader", "feeds", "item", "window", "update", "and", "of", "with"};
  static const char* accented[] = {"caf\xC3\xA9", "na\xC3\xAFve", "\xC3\xA9t\xC3\xA9", "M\xC3\xBCnchen",
                                   "se\xC3\xB1or", "gar\xC3\xA7on", "\xC3\xA0 la", "Gr\xC3\xB6\xC3\x9F" "e"};
  std::mt19937 rng(42);
  std::string utf8Text;
  while (utf8Text.size() < bytes) {
    if (static_cast<int>(rng() % 100) < accents) {
      utf8Text += accented[rng() % std::size(accented)];
    } else {
      utf8Text += plain[rng() % std::size(plain)];
    }
    utf8Text += ' ';
  }
  if (utf8) return utf8Text;
  // The same text in ISO-8859-1.
  std::string latin1;
  for (size_t i = 0; i < utf8Text.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8Text[i]);
    if (c < 0x80) {
      latin1 += static_cast<char>(c);
    } else {
      latin1 += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8Text[++i]) & 0x3F));
    }
  }
  return latin1;
}

struct Setup {
  Setup() {
    bw::initMegaListModule();
    bw::initTranslateEngine();
    bw::initTranslateModule();
    latin1 = bw::encodingFromName("ISO-8859-1", false);
    utf8 = bw::encodingFromName("UTF-8", false);
  }
  std::unique_ptr<bw::cEncoding> latin1, utf8;
};
Setup& setup() {
  static Setup s;
  return s;
}

void ours(benchmark::State& state, bool toLatin1, int accents) {
  Setup& s = setup();
  std::string text = makeText(kEightMB, accents, toLatin1);
  bw::Str input = bw::Str::withCapacity(static_cast<int32_t>(text.size()), text);
  const bw::cEncoding& from = toLatin1 ? *s.utf8 : *s.latin1;
  const bw::cEncoding& to = toLatin1 ? *s.latin1 : *s.utf8;
  for (auto _ : state) {
    bw::Str out = bw::convertStringEncoding(input, from, to, input.length(), '?', false, false, nullptr, 0);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void viaIconv(benchmark::State& state, bool toLatin1, int accents) {
  std::string text = makeText(kEightMB, accents, toLatin1);
  iconv_t cd = toLatin1 ? iconv_open("ISO-8859-1", "UTF-8") : iconv_open("UTF-8", "ISO-8859-1");
  for (auto _ : state) {
    size_t outSize = text.size() * (toLatin1 ? 1 : 2);
    std::unique_ptr<char[]> out(new char[outSize]);
    char* in = text.data();
    size_t inLeft = text.size();
    char* o = out.get();
    size_t outLeft = outSize;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) state.SkipWithError("iconv failed");
    benchmark::DoNotOptimize(out.get());
  }
  iconv_close(cd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Utf8ToLatin1_AsciiHeavy(benchmark::State& s) { ours(s, true, 2); }
void BM_Utf8ToLatin1_AsciiHeavy_iconv(benchmark::State& s) { viaIconv(s, true, 2); }
void BM_Utf8ToLatin1_AccentHeavy(benchmark::State& s) { ours(s, true, 60); }
void BM_Utf8ToLatin1_AccentHeavy_iconv(benchmark::State& s) { viaIconv(s, true, 60); }
void BM_Latin1ToUtf8_AsciiHeavy(benchmark::State& s) { ours(s, false, 2); }
void BM_Latin1ToUtf8_AsciiHeavy_iconv(benchmark::State& s) { viaIconv(s, false, 2); }
void BM_Latin1ToUtf8_AccentHeavy(benchmark::State& s) { ours(s, false, 60); }
void BM_Latin1ToUtf8_AccentHeavy_iconv(benchmark::State& s) { viaIconv(s, false, 60); }
BENCHMARK(BM_Utf8ToLatin1_AsciiHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToLatin1_AsciiHeavy_iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToLatin1_AccentHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToLatin1_AccentHeavy_iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Latin1ToUtf8_AsciiHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Latin1ToUtf8_AsciiHeavy_iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Latin1ToUtf8_AccentHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Latin1ToUtf8_AccentHeavy_iconv)->Unit(benchmark::kMillisecond);

// 250 entity pairs "&eNNN;" -> one character, and text with an entity every
// few words.
void BM_TranslateStr_Entities(benchmark::State& state) {
  setup();
  std::vector<std::string> names;
  std::vector<const char*> dict;
  for (int i = 0; i < 250; ++i) names.push_back("&e" + std::to_string(i) + ";");
  static const char* values[] = {"\xC3\xA9", "&", "<", ">", "\"", "\xC2\xA0"};
  for (int i = 0; i < 250; ++i) {
    dict.push_back(names[static_cast<size_t>(i)].c_str());
    dict.push_back(values[i % 6]);
  }
  dict.push_back(nullptr);
  const auto bytes = static_cast<size_t>(state.range(0)) << 20;
  std::mt19937 rng(1);
  std::string text;
  while (text.size() < bytes) {
    text += (rng() % 5 == 0) ? names[rng() % 250] : std::string("word");
    text += ' ';
  }
  bw::Str input = bw::Str::withCapacity(static_cast<int32_t>(text.size()), text);
  for (auto _ : state) {
    bw::Str out = bw::translateStr(input, dict.data(), input.length(), false, 0);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_TranslateStr_Entities)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
