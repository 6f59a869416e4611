#include "errtext/hresult_description.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "errtext/hresult_name.h"
#include "tests/errtext/code_list.h"

using errtext_test::CandidateCodes;
using errtext_test::Code;
using errtext_test::kWin32Facility;
using errtext_test::Narrow;
using errtext_test::NameParts;

namespace {

std::string DescA(std::uint32_t value) { return HResultDescriptionA(Code(value)); }
std::string DescW(std::uint32_t value) { return Narrow(HResultDescriptionW(Code(value))); }

const char* const kDescriptionDuringStaticInit = HResultDescriptionA(static_cast<HRESULT>(0x8876086C));

TEST(HResultDescription, CommonResults) {
  const std::map<std::uint32_t, const char*> expected = {
      {0x00000000, "The function completed successfully"},
      {0x00000001, "Call successful, but returned FALSE"},
      {0x8000000A, "The data necessary to complete this operation is not yet available."},
      {0x80004001, "The function called is not supported at this time"},
      {0x80004002, "The requested COM interface is not available"},
      {0x80004003, "Invalid pointer"},
      {0x80004004, "Operation aborted"},
      {0x80004005, "An undetermined error occurred"},
      {0x8000FFFF, "Catastrophic failure"},
      {0x80070005, "Access is denied"},
      {0x80070006, "Invalid handle"},
      {0x8007000E, "Ran out of memory"},
      {0x80070057, "An invalid parameter was passed to the returning function"},
      {0x0876086F, "The call succeeded but there won't be any mipmaps generated"},
  };
  for (const auto& [code, text] : expected) {
    EXPECT_EQ(DescA(code), text) << std::hex << code;
    EXPECT_EQ(DescW(code), text) << std::hex << code;
  }
}

TEST(HResultDescription, Direct3DAndLibraryCodes) {
  const std::map<std::uint32_t, const char*> expected = {
      {0x8876017C, "Out of video memory"},
      {0x88760818, "Wrong texture format"},
      {0x88760819, "Unsupported color operation"},
      {0x8876081A, "Unsupported color arg"},
      {0x8876081B, "Unsupported alpha operation"},
      {0x8876081C, "Unsupported alpha arg"},
      {0x8876081D, "Too many operations"},
      {0x8876081E, "Conflicting texture filter"},
      {0x8876081F, "Unsupported factor value"},
      {0x88760821, "Conflicting render state"},
      {0x88760822, "Unsupported texture filter"},
      {0x88760826, "Conflicting texture palette"},
      {0x88760827, "Driver internal error"},
      {0x88760866, "Not found"},
      {0x88760867, "More data"},
      {0x88760868, "Device lost"},
      {0x88760869, "Device not reset"},
      {0x8876086A, "Not available"},
      {0x8876086B, "Invalid device"},
      {0x8876086C, "Invalid call"},
      {0x8876086D, "Driver invalid call"},
      {0x88760B54, "Can not modify index buffer"},
      {0x88760B55, "Invalid mesh"},
      {0x88760B56, "Cannot attr sort"},
      {0x88760B57, "Skinning not supported"},
      {0x88760B58, "Too many influences"},
      {0x88760B59, "Invalid data"},
      {0x88760B5A, "Loaded mesh has no data"},
      {0x88760B5B, "Duplicate named fragment"},
      {0x88760B5C, "Can Not remove last item"},
      {0xC8770BB8, "Out of memory"},
      {0xC8770BC7, "GXLInitialize() must be called first"},
  };
  for (const auto& [code, text] : expected) {
    EXPECT_EQ(DescA(code), text) << std::hex << code;
    EXPECT_EQ(DescW(code), text) << std::hex << code;
  }
  // Texts several codes share.
  EXPECT_EQ(DescA(0x88760387), "Not found");  // GXLFERR_NOTFOUND
  EXPECT_EQ(DescA(0x80150096), "Invalid handle");  // DVERR_INVALIDHANDLE
  EXPECT_EQ(DescA(0x80158360), "Invalid handle");  // DPNERR_INVALIDHANDLE
}

TEST(HResultDescription, CodesWithoutDescriptionGiveNotAvailable) {
  for (std::uint32_t code : {0x8007007Au, 0x80070000u, 0xFFFFFFFFu, 0x80000000u, 12u, 0x00040001u,
                             0x00040002u, 200u, 0x80070001u, 0x887A0001u}) {
    EXPECT_EQ(DescA(code), "n/a") << std::hex << code;
    EXPECT_EQ(DescW(code), "n/a") << std::hex << code;
  }
  // A name is no promise of a description.
  EXPECT_STREQ(HResultNameA(Code(0x8007007A)), "ERROR_INSUFFICIENT_BUFFER");
}

TEST(HResultDescription, Win32Codes) {
  EXPECT_EQ(DescA(2), "The system cannot find the file specified.");
  EXPECT_EQ(DescA(0x80070002), "The system cannot find the file specified.");
  for (std::uint32_t n : {2u, 3u, 4u, 8u, 9u, 10u, 11u}) {
    EXPECT_NE(DescA(n), "n/a") << n;
    EXPECT_EQ(DescA(n), DescA(kWin32Facility + n)) << n;
  }
  EXPECT_EQ(DescA(5), "Access is denied.");
  EXPECT_EQ(DescA(0x80070005), "Access is denied");
  EXPECT_NE(DescA(6), "n/a");
  EXPECT_NE(DescA(6), DescA(0x80070006));
  // Not enough memory, not a missing drive.
  EXPECT_EQ(DescA(14), "Not enough storage is available to complete this operation.");
  EXPECT_EQ(DescA(0x8007000E), "Ran out of memory");
}

TEST(HResultDescription, JoinedCodes) {
  EXPECT_EQ(DescA(0x80040401),
            "The user cancelled the install operation. & The stream already has allocated samples and the "
            "surface doesn't match the sample format.");
  EXPECT_EQ(DescA(0x00040003), "End of stream. Sample not updated.");
  // One input text and one media text; the third facility never adds one.
  for (std::uint32_t code = 0x80040200; code <= 0x8004020B; ++code) {
    EXPECT_EQ(NameParts(DescA(code)).size(), 2u) << std::hex << code;
  }
  EXPECT_EQ(NameParts(DescA(0x80040402)).size(), 2u);
  // The Win32 joined codes have a text in their HRESULT form only.
  for (std::uint32_t n : {12u, 21u, 30u, 119u, 170u, 259u, 1150u, 1153u, 1168u, 1170u, 1247u}) {
    EXPECT_EQ(DescA(n), "n/a") << n;
    EXPECT_NE(DescA(kWin32Facility + n), "n/a") << n;
    EXPECT_EQ(NameParts(DescA(kWin32Facility + n)).size(), 1u) << n;
  }
  EXPECT_EQ(DescA(0x8007000C), "The operation cannot be performed unless the device is acquired.");
  EXPECT_EQ(DescA(0x80070015), "This object has not been initialized");
}

TEST(HResultDescription, DriverCodesAndSelfNamedTexts) {
  EXPECT_EQ(DescA(0x80040300),
            "Device driver-specific codes. Unless the specific driver has been precisely identified, no meaning "
            "should be attributed to these values other than that the driver originated the error.");
  EXPECT_EQ(DescA(0x800403FF), "Device installer errors.");
  for (std::uint32_t code : {0x80040301u, 0x80040302u, 0x80040303u, 0x80040304u, 0x80040305u, 0x80040408u}) {
    EXPECT_EQ(DescA(code), HResultNameA(Code(code))) << std::hex << code;
  }
}

TEST(HResultDescriptionW, DiffersOnlyInOneCapital) {
  EXPECT_EQ(DescA(0x80070492), "The specified property set is not supported.");
  EXPECT_EQ(DescW(0x80070492), "The Specified property set is not supported.");
  int described = 0;
  for (std::uint32_t code : CandidateCodes()) {
    std::string a = DescA(code);
    if (a != "n/a") ++described;
    if (code != 0x80070492) {
      EXPECT_EQ(a, DescW(code)) << std::hex << code;
    }
  }
  EXPECT_EQ(described, 656);
}

// Descriptions cover named codes only, and read as text: no stray blanks at
// either end, no control characters.
TEST(HResultDescription, EveryDescribedCodeHasANameAndCleanText) {
  for (std::uint32_t code : CandidateCodes()) {
    std::string text = DescA(code);
    if (text == "n/a") continue;
    EXPECT_STRNE(HResultNameA(Code(code)), "Unknown") << std::hex << code;
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.front(), ' ') << std::hex << code;
    EXPECT_NE(text.back(), ' ') << std::hex << code;
    for (char c : text) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << std::hex << code;
  }
}

TEST(HResultDescription, WorksDuringStaticInitialisation) {
  EXPECT_STREQ(kDescriptionDuringStaticInit, "Invalid call");
}

}  // namespace
