// The target base driven through the test target: encodings checked against
// the token format by hand, the compile driver's order and failures, and the
// comment blocks of a finished stream.
#include <gtest/gtest.h>

#include "target_fixture.h"

namespace targettest {
namespace {

class GxlTargetBase : public TargetTest {};

TEST_F(GxlTargetBase, MulIntoPosition) {
  TestTarget& t = Make(kVs20);
  const Values v0 = t.Reg(StandardBank::Inputs, 0);
  t.SetSemantic(v0, "POSITION");
  const Values o0 = t.Reg(StandardBank::Outputs, 0);
  t.SetSemantic(o0, "POSITION");
  const Values c0 = t.Reg(StandardBank::FloatConstants, 0);
  t.Put(kOpMultiply, 4, Concat(v0, c0), o0);
  const Code code = MustCompile();
  EXPECT_EQ(Text(code), "");
}

}  // namespace
}  // namespace targettest
