#include <gtest/gtest.h>

#include "platform/d3d9_api.h"

TEST(D3D9ResSmoke, Create) {
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr);
  EXPECT_EQ(d3d->Release(), 0u);
}
