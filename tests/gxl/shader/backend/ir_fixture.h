// A page pool bound to the IR node pools, a message log and a set-up
// program: what every back-end test starts from.
#pragma once

#include <gtest/gtest.h>

#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/page_pool.h"

namespace irtest {

class IrFixture : public ::testing::Test {
 protected:
  IrFixture() : scope(&pages) {}
  void SetUp() override { ASSERT_EQ(program.Init(nullptr, &log, 0xFFFE0200, 0), S_OK); }
  std::uint32_t Bank(gxl::shader::StandardBank b) const { return program.StandardBankIndex(b); }

  PagePool pages{0x100000, 0x10000};
  gxl::shader::IrPoolScope scope;
  gxl::shader::MessageLog log;
  gxl::shader::ShaderProgram program;  // destroyed first: its nodes go back before the pool goes
};

}  // namespace irtest
