// core/box.cpp - value boxes: exchange operations, release and makers.
#include "core/box.h"

#include <utility>

namespace bw {

void* boxPTR::exchange(void* v) { return std::exchange(value, v); }
void* boxARRAY::exchange(void* v) { return std::exchange(value, v); }
Str boxSTRING::exchange(Str v) { return std::exchange(value, std::move(v)); }
WordList boxLIST::exchange(WordList v) { return std::exchange(value, std::move(v)); }
int32_t boxVALUE::exchange(int32_t v) { return std::exchange(value, v); }
int64_t boxBIGVALUE::exchange(int64_t v) { return std::exchange(value, v); }

void boxSTRING::endValue() { value = Str(); }

void boxLIST::endValue() {
  // Swap rather than clear() so the memory is really given back.
  WordList().swap(value);
}

std::unique_ptr<boxPTR> newBoxPTR(void* pointer) { return std::make_unique<boxPTR>(pointer); }
std::unique_ptr<boxARRAY> newBoxARRAY(void* array) { return std::make_unique<boxARRAY>(array); }
std::unique_ptr<boxSTRING> newBoxSTRING(Str string) { return std::make_unique<boxSTRING>(std::move(string)); }
std::unique_ptr<boxLIST> newBoxLIST(WordList list) { return std::make_unique<boxLIST>(std::move(list)); }
std::unique_ptr<boxVALUE> newBoxVALUE(int32_t value) { return std::make_unique<boxVALUE>(value); }

std::unique_ptr<boxBIGVALUE> newBoxBIGVALUE(int32_t high, uint32_t low) {
  uint64_t bits = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
  return std::make_unique<boxBIGVALUE>(static_cast<int64_t>(bits));
}

std::unique_ptr<boxBIGVALUE> newBoxBIGVALUE(int64_t value) { return std::make_unique<boxBIGVALUE>(value); }

}  // namespace bw
