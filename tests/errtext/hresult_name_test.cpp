#include "errtext/hresult_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/errtext/code_list.h"

using errtext_test::CandidateCodes;
using errtext_test::Code;
using errtext_test::CodeRows;
using errtext_test::CodesNoHeaderDefines;
using errtext_test::kWin32Facility;
using errtext_test::Narrow;
using errtext_test::NameParts;

namespace {

std::string NameA(std::uint32_t value) { return HResultNameA(Code(value)); }
std::string NameW(std::uint32_t value) { return Narrow(HResultNameW(Code(value))); }

// Looked up while the program's globals are being constructed, in whatever
// order: the tables must need no set-up.
const char* const kNameDuringStaticInit = HResultNameA(static_cast<HRESULT>(0x80004005));
const char16_t* const kWideNameDuringStaticInit = HResultNameW(static_cast<HRESULT>(0x8876086C));

TEST(HResultName, CommonCodes) {
  const std::map<std::uint32_t, const char*> expected = {
      {0x00000000, "S_OK"},
      {0x00000001, "S_FALSE"},
      {0x00000002, "ERROR_FILE_NOT_FOUND"},
      {0x80004005, "E_FAIL"},
      {0x80004001, "E_NOTIMPL"},
      {0x80004002, "E_NOINTERFACE"},
      {0x8876086C, "D3DERR_INVALIDCALL"},
      {0x88760868, "D3DERR_DEVICELOST"},
      {0x8876086A, "D3DERR_NOTAVAILABLE"},
      {0x88760B59, "GXLERR_INVALIDDATA"},
      {0x8007007A, "ERROR_INSUFFICIENT_BUFFER"},
      {0x8878000A, "DSERR_ALLOCATED"},
      {0x0876086F, "D3DOK_NOAUTOGEN"},
      {0x0878000A, "DS_NO_VIRTUALIZATION"},
      {0xC0090001, "ERROR_AUDITING_DISABLED"},
      {0xC0090002, "ERROR_ALL_SIDS_FILTERED"},
      {0x00150005, "DV_FULLDUPLEX"},
      {0x0015000A, "DV_HALFDUPLEX"},
      {0x00150010, "DV_PENDING"},
      {0x88760B54, "GXLERR_CANNOTMODIFYINDEXBUFFER"},
      {0x88760B5C, "GXLERR_CANNOTREMOVELASTITEM"},
      {0xC8770BB8, "GXLERR_NOMEMORY"},
      {0xC8770BDB, "GXLERR_NOMATCHFOUND"},
      {194, "ERROR_ITERATED_DATA_EXCEEDS_64k"},  // lower case as the headers spell it
      {199, "ERROR_AUTODATASEG_EXCEEDS_64k"},
  };
  for (const auto& [code, name] : expected) {
    EXPECT_EQ(NameA(code), name) << std::hex << code;
    EXPECT_EQ(NameW(code), name) << std::hex << code;
  }
}

TEST(HResultName, UnknownCodesAreNotMaskedOrFormatted) {
  for (std::uint32_t code : {0x887A0001u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x0000FFFFu, 0x80000000u,
                             0x00004005u /* E_FAIL without its severity */, 0x80014005u,
                             0x0876086Cu /* D3DERR_INVALIDCALL as a success */}) {
    EXPECT_STREQ(HResultNameA(Code(code)), "Unknown") << std::hex << code;
    EXPECT_EQ(std::u16string(HResultNameW(Code(code))), u"Unknown") << std::hex << code;
  }
}

TEST(HResultName, Win32NumbersAnswerInBothForms) {
  EXPECT_EQ(NameA(0x80070002), "ERROR_FILE_NOT_FOUND");
  EXPECT_EQ(NameA(0x8007007A), NameA(0x7A));
  // 0 and 1 are the success codes; their HRESULT forms are not.
  EXPECT_EQ(NameA(0x80070000), "Unknown");
  EXPECT_EQ(NameA(0x80070001), "ERROR_INVALID_FUNCTION");
  // Four numbers have a COM name in their HRESULT form.
  const std::map<std::uint32_t, std::pair<const char*, const char*>> comForms = {
      {5, {"ERROR_ACCESS_DENIED", "E_ACCESSDENIED"}},
      {6, {"ERROR_INVALID_HANDLE", "E_HANDLE"}},
      {14, {"ERROR_OUTOFMEMORY", "E_OUTOFMEMORY"}},
      {87, {"ERROR_INVALID_PARAMETER", "E_INVALIDARG"}},
  };
  for (const auto& [n, names] : comForms) {
    EXPECT_EQ(NameA(n), names.first);
    EXPECT_EQ(NameA(kWin32Facility + n), names.second);
    EXPECT_EQ(NameW(n), names.first);
    EXPECT_EQ(NameW(kWin32Facility + n), names.second);
  }
  // Seven are answered only as bare numbers.
  const std::map<std::uint32_t, const char*> bareOnly = {
      {200, "ERROR_RING2SEG_MUST_BE_MOVABLE"}, {201, "ERROR_RELOC_CHAIN_XEEDS_SEGLIM"},
      {1266, "SEC_E_SMARTCARD_CERT_REVOKED"},  {1267, "SEC_E_ISSUING_CA_UNTRUSTED"},
      {1268, "SEC_E_REVOCATION_OFFLINE_C"},    {1269, "SEC_E_PKINIT_CLIENT_FAILURE"},
      {1270, "SEC_E_SMARTCARD_CERT_EXPIRED"},
  };
  for (const auto& [n, name] : bareOnly) {
    EXPECT_EQ(NameA(n), name);
    EXPECT_EQ(NameW(n), name);
    EXPECT_EQ(NameA(kWin32Facility + n), "Unknown");
    EXPECT_EQ(NameW(kWin32Facility + n), "Unknown");
  }
  // No other facility is doubled: the bare low word of a COM code is not it.
  EXPECT_NE(NameA(0x4005), "E_FAIL");
  EXPECT_EQ(NameA(0x88760000u + 0x86C), "D3DERR_INVALIDCALL");
  EXPECT_NE(NameA(0x86C), "D3DERR_INVALIDCALL");
}

TEST(HResultName, DriverSpecificInputCodesCarryTheirOffset) {
  EXPECT_EQ(NameA(0x80040300), "DIERR_DRIVERFIRST");
  for (std::uint32_t i = 1; i <= 5; ++i) {
    EXPECT_EQ(NameA(0x80040300 + i), "DIERR_DRIVERFIRST+" + std::to_string(i));
  }
  EXPECT_EQ(NameA(0x80040306), "Unknown");
  EXPECT_EQ(NameA(0x800403FF), "DIERR_DRIVERLAST");
}

TEST(HResultName, JoinedNames) {
  const std::map<std::uint32_t, const char*> win32Joined = {
      {12, "ERROR_INVALID_ACCESS & DIERR_NOTACQUIRED"},
      {21, "ERROR_NOT_READY & DIERR_NOTINITIALIZED"},
      {30, "ERROR_READ_FAULT & DIERR_INPUTLOST"},
      {119, "ERROR_BAD_DRIVER_LEVEL & DIERR_BADDRIVERVER"},
      {170, "ERROR_BUSY & DIERR_ACQUIRED"},
      {259, "ERROR_NO_MORE_ITEMS & DIERR_NOMOREITEMS"},
      {1150, "ERROR_OLD_WIN_VERSION & DIERR_OLDDIRECTINPUTVERSION"},
      {1153, "ERROR_RMODE_APP & DIERR_BETADIRECTINPUTVERSION"},
      {1168, "ERROR_NOT_FOUND & E_PROP_ID_UNSUPPORTED"},
      {1170, "ERROR_SET_NOT_FOUND & E_PROP_SET_UNSUPPORTED"},
      {1247, "ERROR_ALREADY_INITIALIZED & DIERR_ALREADYINITIALIZED"},
  };
  for (const auto& [n, name] : win32Joined) {
    EXPECT_EQ(NameA(n), name);
    EXPECT_EQ(NameA(kWin32Facility + n), name);
    EXPECT_EQ(NameW(n), name);
    EXPECT_EQ(NameW(kWin32Facility + n), name);
  }
  const std::map<std::uint32_t, const char*> joined = {
      {0x00040003, "MS_S_ENDOFSTREAM & WBEM_S_DIFFERENT"},
      {0x80040200, "DIERR_INSUFFICIENTPRIVS & VFW_E_INVALIDMEDIATYPE"},
      {0x80040201, "DIERR_DEVICEFULL & VFW_E_INVALIDSUBTYPE & DMO_E_INVALIDSTREAMINDEX"},
      {0x80040202, "DIERR_MOREDATA & VFW_E_NEED_OWNER & DMO_E_INVALIDTYPE"},
      {0x80040203, "DIERR_NOTDOWNLOADED & VFW_E_ENUM_OUT_OF_SYNC & DMO_E_TYPE_NOT_SET"},
      {0x80040204, "DIERR_HASEFFECTS & VFW_E_ALREADY_CONNECTED & DMO_E_NOTACCEPTING"},
      {0x80040205, "DIERR_NOTEXCLUSIVEACQUIRED & VFW_E_FILTER_ACTIVE & DMO_E_TYPE_NOT_ACCEPTED"},
      {0x80040206, "DIERR_INCOMPLETEEFFECT & VFW_E_NO_TYPES & DMO_E_NO_MORE_ITEMS"},
      {0x80040207, "DIERR_NOTBUFFERED & VFW_E_NO_ACCEPTABLE_TYPES"},
      {0x80040208, "DIERR_EFFECTPLAYING & VFW_E_INVALID_DIRECTION"},
      {0x80040209, "DIERR_UNPLUGGED & VFW_E_NOT_CONNECTED"},
      {0x8004020A, "DIERR_REPORTFULL & VFW_E_NO_ALLOCATOR"},
      {0x8004020B, "DIERR_MAPFILEFAIL & VFW_E_RUNTIME_ERROR"},
      {0x80040401, "DIERR_CANCELLED & MS_E_SAMPLEALLOC"},
      {0x80040402, "DIERR_BADINF & MS_E_PURPOSEID"},
  };
  for (const auto& [code, name] : joined) {
    EXPECT_EQ(NameA(code), name) << std::hex << code;
    EXPECT_EQ(NameW(code), name) << std::hex << code;
  }
  EXPECT_EQ(NameA(0x00040001), "OLE_S_STATIC & MS_S_PENDING & WBEM_S_ALREADY_EXISTS");
  EXPECT_EQ(NameA(0x00040002), "OLE_S_MAC_CLIPFORMAT & MS_S_NOUPDATE & WBEM_S_RESET_TO_DEFAULT");
  // The longest name of the table.
  EXPECT_EQ(std::strlen(HResultNameA(Code(0x80040205))), 74u);
  // Where two headers define one value apart, one name answers.
  EXPECT_EQ(NameA(0x8876017C), "D3DERR_OUTOFVIDEOMEMORY");
  EXPECT_EQ(NameA(0x8876021C), "DDERR_WASSTILLDRAWING");
  EXPECT_EQ(NameA(0x88781161), "DSERR_OBJECTNOTFOUND");
  EXPECT_EQ(NameA(0x80040110), "CLASSFACTORY_E_FIRST");
}

TEST(HResultNameW, DiffersFromTheEightBitTableOnlyWhereListed) {
  const std::set<std::string> missing = {
      "ERROR_NOT_SAFEBOOT_SERVICE",        "DNS_ERROR_FORWARDER_ALREADY_EXISTS",
      "DNS_ERROR_ZONE_REQUIRES_MASTER_IP", "DNS_ERROR_ZONE_IS_SHUTDOWN",
      "DNS_ERROR_DP_BASE",                 "DNS_ERROR_DP_DOES_NOT_EXIST",
      "DNS_ERROR_DP_ALREADY_EXISTS",       "DNS_ERROR_DP_NOT_ENLISTED",
      "DNS_ERROR_DP_ALREADY_ENLISTED",
  };
  EXPECT_EQ(NameW(0x00040001), "OLE_S_STATIC & MS_S_PENDING");
  EXPECT_EQ(NameW(0x00040002), "OLE_S_MAC_CLIPFORMAT & MS_S_NOUPDATE");
  EXPECT_EQ(NameA(9900), "DNS_ERROR_DP_BASE");
  EXPECT_EQ(NameW(9900), "Unknown");
  EXPECT_EQ(NameA(1084), "ERROR_NOT_SAFEBOOT_SERVICE");
  EXPECT_EQ(NameW(kWin32Facility + 1084), "Unknown");

  int codesA = 0, codesW = 0, differing = 0;
  std::set<std::string> namesA, namesW, missingSeen;
  for (std::uint32_t code : CandidateCodes()) {
    std::string a = NameA(code), w = NameW(code);
    if (a != "Unknown") ++codesA, namesA.insert(a);
    if (w != "Unknown") ++codesW, namesW.insert(w);
    if (a == w) continue;
    ++differing;
    if (code == 0x00040001 || code == 0x00040002) continue;
    EXPECT_EQ(w, "Unknown") << std::hex << code;
    EXPECT_TRUE(missing.count(a)) << a;
    missingSeen.insert(a);
  }
  EXPECT_EQ(missingSeen, missing);
  // Nine names in both forms, and the two shortened joined names.
  EXPECT_EQ(differing, 18 + 2);
  EXPECT_EQ(codesA - codesW, 18);
  EXPECT_EQ(namesA.size() - namesW.size(), 9u);
}

// Each name of the table stands where the headers define it: at its value, or
// at the HRESULT form of its Win32 number (and a joined Win32 name also at the
// bare number, though its second part is defined in HRESULT form only).
TEST(HResultNameData, EveryAnsweredNameIsDefinedAtItsCode) {
  std::map<std::string, std::set<std::uint32_t>> defined;
  for (const auto& row : CodeRows()) {
    defined[row.name].insert(row.value);
    if (row.family == "win32") defined[row.name].insert(kWin32Facility + row.value);
  }
  const std::set<std::uint32_t>& undefinedInHeaders = CodesNoHeaderDefines();
  for (std::uint32_t code : CandidateCodes()) {
    std::string name = NameA(code);
    if (name == "Unknown" || undefinedInHeaders.count(code)) continue;
    std::vector<std::string> parts = NameParts(name);
    for (const std::string& part : parts) {
      bool joinedWin32 = parts.size() > 1 && code < 0x10000 && defined[part].count(kWin32Facility + code);
      EXPECT_TRUE(defined[part].count(code) || joinedWin32) << part << " answers " << std::hex << code;
    }
  }
}

// Every identifier of the list that the table uses answers at its own value,
// and a Win32 number in both forms but for the listed exceptions.
TEST(HResultNameData, EveryCodeWhoseNameTheTableHoldsAnswersWithIt) {
  std::set<std::string> used;
  for (std::uint32_t code : CandidateCodes()) {
    for (const std::string& part : NameParts(NameA(code))) used.insert(part);
  }
  auto answers = [](std::uint32_t code, const std::string& name) {
    for (const std::string& part : NameParts(NameA(code))) {
      if (part == name) return true;
    }
    return false;
  };
  const std::set<std::uint32_t> noHResultForm = {0, 5, 6, 14, 87, 200, 201};
  int checked = 0;
  for (const auto& row : CodeRows()) {
    if (!used.count(row.name)) continue;
    if (row.family != "win32") {
      EXPECT_TRUE(answers(row.value, row.name)) << row.name;
      ++checked;
      continue;
    }
    if (row.value > 1) {
      EXPECT_TRUE(answers(row.value, row.name)) << row.name;
    }
    if (!noHResultForm.count(row.value)) {
      EXPECT_TRUE(answers(kWin32Facility + row.value, row.name)) << row.name;
    }
    ++checked;
  }
  EXPECT_GT(checked, 4000);
}

TEST(HResultName, SameTextOnEveryCall) {
  EXPECT_EQ(HResultNameA(Code(0x80004005)), HResultNameA(Code(0x80004005)));
  EXPECT_EQ(HResultNameW(Code(0x80004005)), HResultNameW(Code(0x80004005)));
  EXPECT_EQ(HResultNameA(Code(0x12345678)), HResultNameA(Code(0x12345678)));
}

TEST(HResultName, WorksDuringStaticInitialisation) {
  EXPECT_STREQ(kNameDuringStaticInit, "E_FAIL");
  EXPECT_EQ(std::u16string(kWideNameDuringStaticInit), u"D3DERR_INVALIDCALL");
}

}  // namespace
