// The optimiser's read-only queries over a watched program: the incremental
// rounds compare every record a step reached through the lists with its
// image, so a query that only reads must reach none (a step that asked them
// along a chain of definitions cost a comparison per record it looked at).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "gxl/shader/backend/ir/list_journal.h"
#include "gxl/shader/backend/opt/fold.h"
#include "gxl/shader/backend/opt/opt_util.h"
#include "ir_fixture.h"

namespace {

using namespace gxl::shader;

struct GxlReadQueries : irtest::IrFixture {};

TEST_F(GxlReadQueries, LeaveAWatchingJournalEmpty) {
  // A chain of additions of a literal to an input, one link redirected.
  const std::uint32_t literal = program.AddValue(Bank(StandardBank::Literals), kNoIndex, kNoIndex, 0.5);
  std::uint32_t last = program.AddValue(Bank(StandardBank::Inputs), 0, 0, 0.0);
  for (std::uint32_t i = 0; i < 64; ++i) {
    IrInstruction* add = program.Instruction(program.AddInstruction(IrWord(kOpAdd, 1), kNoIndex, kNoIndex));
    add->arguments[0] = last;
    add->arguments[1] = literal;
    add->results[0] = last = program.AddValue(Bank(StandardBank::Temporaries), i, 0, 0.0);
  }
  program.Value(last - 1)->renumber = last - 2;
  ASSERT_EQ(program.RebuildDefUse(), S_OK);

  const ShaderProgram& p = program;
  const std::function<std::uint64_t(std::uint32_t)> queries[] = {
      [&](std::uint32_t v) { return opt::Root(p, v); },
      [&](std::uint32_t v) { return opt::BankTypeOf(p, v); },
      [&](std::uint32_t v) { return opt::IsLiteral(p, v) + 2 * opt::Replaceable(p, v); },
      [&](std::uint32_t v) { return p.RenumberingField(v); },
      [&](std::uint32_t v) {
        std::uint32_t slot = 0;
        return reinterpret_cast<std::uintptr_t>(fold::Definer(p, v, &slot)) + slot;
      },
      [&](std::uint32_t v) { return fold::Flags(p, v); },
      [&](std::uint32_t v) { return opt::GuardDepth(p, opt::GuardOf(*p.values.Peek(v))); },
      [&](std::uint32_t v) { return p.ImpliesCondition(v, literal); },
  };
  for (std::size_t q = 0; q < std::size(queries); ++q) {
    ListJournal values, instructions;
    program.values.Watch(&values);
    program.instructions.Watch(&instructions);
    std::uint64_t sum = 0;
    for (std::uint32_t v = 0; v < program.values.Count(); ++v) sum += queries[q](v);
    program.values.Watch(nullptr);
    program.instructions.Watch(nullptr);
    EXPECT_EQ(values.NotedCount() + instructions.NotedCount(), 0u) << "query " << q << " (" << sum << ")";
  }
}

}  // namespace
