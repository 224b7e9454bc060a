// Tests of the object root's class-name identity and the module registry.
#include "core/object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/exception.h"
#include "core/module_registry.h"

namespace bw {
namespace {

class fSample : public function {
  BW_CLASS(fSample, function)
};

TEST(ObjectTest, ClassTestsCompareNameIdentity) {
  fSample f;
  EXPECT_STREQ(f.className(), "fSample");
  EXPECT_TRUE(f.isSameClass(fSample::kClassName));
  EXPECT_FALSE(f.isSameClass(function::kClassName));
  EXPECT_TRUE(f.isOfClass(function::kClassName));
  EXPECT_TRUE(f.isOfClass(class_base::kClassName));
  std::string lookalike = "fSample";
  EXPECT_FALSE(f.isOfClass(lookalike.c_str()));
  EXPECT_FALSE(f.isSameClass(lookalike.c_str()));
}

std::vector<std::string> trace;

TEST(ModuleRegistryTest, InitInOrderEndInReverse) {
  trace.clear();
  ModuleRegistry r;
  r.add({"a", [] { trace.push_back("init a"); }, [] { trace.push_back("end a"); }});
  r.add({"b", [] { trace.push_back("init b"); }, [] { trace.push_back("end b"); }});
  r.initAll();
  r.endAll();
  EXPECT_EQ(trace, (std::vector<std::string>{"init a", "init b", "end b", "end a"}));
}

TEST(ModuleRegistryTest, FailedInitEndsOnlyTheInitialised) {
  trace.clear();
  ModuleRegistry r;
  r.add({"a", [] { trace.push_back("init a"); }, [] { trace.push_back("end a"); }});
  r.add({"b", [] { raise("lib", "b; not obtained"); }, [] { trace.push_back("end b"); }});
  r.add({"c", [] { trace.push_back("init c"); }, [] { trace.push_back("end c"); }});
  EXPECT_THROW(r.initAll(), eException);
  EXPECT_EQ(trace, (std::vector<std::string>{"init a", "end a"}));
  EXPECT_EQ(r.initialisedCount(), 0u);
}

}  // namespace
}  // namespace bw
