// The tables as constant data: lookups allocate nothing, and the committed
// tables are what the generator makes of its inputs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "errtext/hresult_description.h"
#include "errtext/hresult_name.h"
#include "tests/support/test_util.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// Counts every allocation of this test program. The pair replaces the
// sanitizer's own, so both sides must agree on malloc and free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(HResultNameLookup, AllocatesNothing) {
  // Make sure the counter works at all before trusting a zero.
  long before = g_allocations.load();
  delete new std::string(64, 'x');
  ASSERT_GT(g_allocations.load(), before);

  before = g_allocations.load();
  std::size_t sink = 0;
  for (std::uint32_t code = 0; code < 0x3000; ++code) {
    for (std::uint32_t high : {0x00000000u, 0x80070000u, 0x88760000u, 0x80040000u}) {
      HRESULT hr = static_cast<HRESULT>(high | code);
      sink += HResultNameA(hr)[0] + HResultNameW(hr)[0];
      sink += HResultDescriptionA(hr)[0] + HResultDescriptionW(hr)[0];
    }
  }
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_GT(sink, 0u);
}

TEST(HResultNameTables, GeneratedFilesAreCurrent) {
  ASSERT_TRUE(nura::test::HaveTool("python3")) << "python3 is needed to check the generated tables";
  nura::test::TempDir dir;
  std::string source = nura::test::SourceDir();
  std::string log;
  int status = nura::test::RunCommand(
      "python3 '" + source + "/errtext/tools/gen_hresult_tables.py' --out '" + dir.path() + "' 2>&1", &log);
  ASSERT_EQ(status, 0) << log;
  for (const char* name : {"hresult_name_table.inc", "hresult_description_table.inc"}) {
    std::vector<std::uint8_t> fresh = nura::test::ReadFileBytes(dir / name);
    std::vector<std::uint8_t> committed = nura::test::ReadFileBytes(source + "/errtext/" + name);
    ASSERT_FALSE(fresh.empty()) << name;
    EXPECT_TRUE(fresh == committed) << name << " is out of date: run errtext/tools/gen_hresult_tables.py";
  }
}

}  // namespace
