// Random, mutated and truncated streams through the decoder, the platform's
// validator and the interpreter: each gives an answer or an error, never a
// fault (the sanitizer build checks every read against the exact-sized stream).
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "platform/d3d9_api.h"
#include "platform/win_kernel.h"
#include "tests/support/shader/decode.h"
#include "tests/support/shader/goldens.h"
#include "tests/support/shader/interp.h"

namespace nura::shtok {
namespace {

namespace ps = platform::shader;

HRESULT CountMessage(const char*, int, DWORD, DWORD, const char*, void* context) {
  ++*static_cast<int*>(context);
  return S_OK;
}

TEST(ShTokDecode, HostileStreamsGiveErrorsOnly) {
  auto create = reinterpret_cast<PFN_Direct3DShaderValidatorCreate9>(
      GetProcAddress(GetModuleHandleA("d3d9.dll"), "Direct3DShaderValidatorCreate9"));
  ASSERT_NE(create, nullptr);
  std::vector<std::vector<std::uint32_t>> seeds;
  for (const Golden& g : Goldens()) seeds.push_back(Tokens(g.tokens));
  const std::uint32_t versions[] = {0xFFFE0101, 0xFFFE0200, 0xFFFE0201, 0xFFFE0300, 0xFFFE03FF,
                                    0xFFFF0101, 0xFFFF0103, 0xFFFF0104, 0xFFFF0200, 0xFFFF0201, 0xFFFF0300};
  std::mt19937 rng(20050322);
  auto below = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  Interpreter interp;
  interp.SetBudget(3000);
  interp.SetSampler([](const SampleRequest& r) { return r.coord; });
  int accepted = 0;
  for (int round = 0; round < 10000; ++round) {
    std::vector<std::uint32_t> words;
    const std::vector<std::uint32_t>& seed = seeds[below(seeds.size())];
    switch (round % 3) {
      case 0:  // truncated
        words.assign(seed.begin(), seed.begin() + static_cast<long>(1 + below(seed.size())));
        break;
      case 1:  // mutated: flipped bits and replaced words
        words = seed;
        for (std::size_t n = 1 + below(3); n > 0; --n) {
          std::uint32_t& w = words[1 + below(words.size() - 1)];
          w = below(2) ? w ^ (1u << below(32)) : static_cast<std::uint32_t>(rng());
        }
        break;
      default:  // random words after a real version token
        words.push_back(versions[below(std::size(versions))]);
        for (std::size_t n = below(40); n > 0; --n)
          words.push_back(below(4) ? static_cast<std::uint32_t>(rng()) : (rng() & 0x0F0000FF));
        words.push_back(0x0000FFFF);
        break;
    }
    // An exact-sized copy, so that any read past the count is caught.
    const std::size_t count = words.size();
    std::unique_ptr<std::uint32_t[]> exact(new std::uint32_t[count]);
    std::copy(words.begin(), words.end(), exact.get());

    std::string text, error;
    const bool decoded = Disassemble(exact.get(), count, &text, &error);
    if (!decoded) {
      ASSERT_EQ(error.rfind("token ", 0), 0u) << error;
    }

    ShaderValidator9* validator = create();
    int messages = 0;
    ASSERT_EQ(validator->Begin(&CountMessage, &messages, 0), S_OK);
    for (std::size_t pos = 0; pos < count;) {
      const std::size_t n = std::min(count - pos, 1 + below(6));
      const HRESULT hr = validator->Instruction("hostile", round, exact.get() + pos, static_cast<DWORD>(n));
      ASSERT_TRUE(hr == S_OK || hr == E_FAIL);
      pos += n;
    }
    const HRESULT verdict = validator->End();
    validator->Release();
    ASSERT_EQ(verdict == S_OK, messages == 0);

    ps::Version v;
    ps::ParseVersion(exact[0], &v);
    const bool loaded = interp.Load(exact.get(), count, &error);
    if (verdict == S_OK) {
      // What the validator passes, the decoder and the interpreter take.
      ++accepted;
      EXPECT_TRUE(decoded) << error;
      EXPECT_TRUE(loaded) << error;
    }
    if (loaded) {
      Lane lanes[4];
      const int n = v.pixel ? 4 : 1;
      if (!interp.Run(lanes, n, &error)) {
        ASSERT_FALSE(error.empty());
      }
    }
  }
  // The mutations leave a fair share of valid programs to run.
  EXPECT_GT(accepted, 300);
}

}  // namespace
}  // namespace nura::shtok
