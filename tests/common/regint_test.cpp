// ReadRegInt and WriteRegInt against the real registry, on a scratch key of this process.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "common/common.h"
#include "common/registry_scope.h"
#include "common/registry_trace.h"

using namespace regtest;

namespace {

class RegIntTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Scratch.Ready()); }
  // The path the routines are given, with the leading backslash they drop.
  std::string RoutinePath() const { return "\\" + ScratchPath() + "\\Status"; }
  std::string RawPath() const { return ScratchPath() + "\\Status"; }
  TScratchKey Scratch{false};
};

TEST_F(RegIntTest, WrittenValuesReadBackIncludingTheSignedLimits) {
  for (int value : {0, 120, -50, INT_MAX, INT_MIN, -1}) {
    SCOPED_TRACE(value);
    ASSERT_EQ(WriteRegInt(HKEY_CURRENT_USER, RoutinePath(), "Top", value), 0);
    TRawValue raw = ReadRaw(HKEY_CURRENT_USER, RawPath(), "Top");
    ASSERT_TRUE(raw.Exists);
    EXPECT_EQ(raw.Type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(raw.Data.size(), 4u);
    EXPECT_EQ(DwordOf(raw), value);
    int read = 12345;
    EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, RoutinePath(), "Top", read), 0);
    EXPECT_EQ(read, value);
  }
}

TEST_F(RegIntTest, WriteCreatesEveryMissingKeyOfThePath) {
  const std::string deep = "\\" + ScratchPath() + "\\a\\b\\c";
  ASSERT_FALSE(KeyExists(HKEY_CURRENT_USER, ScratchPath() + "\\a"));
  EXPECT_EQ(WriteRegInt(HKEY_CURRENT_USER, deep, "Left", 7), 0);
  EXPECT_EQ(DwordOf(ReadRaw(HKEY_CURRENT_USER, ScratchPath() + "\\a\\b\\c", "Left")), 7);
}

TEST_F(RegIntTest, PathWithoutBackslashIsTakenUnderTheRootToo) {
  EXPECT_EQ(WriteRegInt(HKEY_CURRENT_USER, RawPath(), "Width", 33), 0);
  int value = 0;
  EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, RawPath(), "Width", value), 0);
  EXPECT_EQ(value, 33);
  EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, RoutinePath(), "Width", value), 0);
  EXPECT_EQ(value, 33);
}

TEST_F(RegIntTest, MissingKeyOrValueReadsAsZeroWithResultOne) {
  int value = 77;
  EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, RoutinePath(), "Top", value), 1);
  EXPECT_EQ(value, 0);
  // Reading does not create the key.
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, RawPath()));

  ASSERT_EQ(WriteRawDword(HKEY_CURRENT_USER, RawPath(), "Top", 5), ERROR_SUCCESS);
  value = 77;
  EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, RoutinePath(), "Width", value), 1);
  EXPECT_EQ(value, 0);
}

TEST_F(RegIntTest, ValuesOfAnyOtherFormAreRefused) {
  const char text[] = "120";  // 4 bytes with its terminator, the size of a DWORD
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "Top", REG_SZ, text, sizeof(text)), ERROR_SUCCESS);
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "Expand", REG_EXPAND_SZ, text, sizeof(text)),
            ERROR_SUCCESS);
  const BYTE four[4] = {0x78, 0, 0, 0};
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "Binary", REG_BINARY, four, 4), ERROR_SUCCESS);
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "BigEndian", REG_DWORD_BIG_ENDIAN, four, 4),
            ERROR_SUCCESS);
  const BYTE eight[8] = {0x78, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "Qword", REG_QWORD, eight, 8), ERROR_SUCCESS);
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "LongDword", REG_DWORD, eight, 8), ERROR_SUCCESS);
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "ShortDword", REG_DWORD, four, 2), ERROR_SUCCESS);
  const char longText[] = "123456789";
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "LongText", REG_SZ, longText, sizeof(longText)),
            ERROR_SUCCESS);

  for (const char* name :
       {"Top", "Expand", "Binary", "BigEndian", "Qword", "LongDword", "ShortDword", "LongText"}) {
    SCOPED_TRACE(name);
    int value = 99;
    EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, RoutinePath(), name, value), 1);
    EXPECT_EQ(value, 0);
  }
}

TEST_F(RegIntTest, KeyThatCannotBeCreatedGetsNothingWritten) {
  // A non-volatile key cannot be created below a volatile one; root permissions do not
  // stand in the way of that.
  HKEY volatileKey = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (ScratchPath() + "\\Volatile").c_str(), 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(volatileKey);

  const std::string path = "\\" + ScratchPath() + "\\Volatile\\Status";
  EXPECT_EQ(WriteRegInt(HKEY_CURRENT_USER, path, "Top", 10), 1);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, ScratchPath() + "\\Volatile\\Status"));
  EXPECT_FALSE(ReadRaw(HKEY_CURRENT_USER, ScratchPath() + "\\Volatile", "Top").Exists);
}

TEST_F(RegIntTest, ValueThatCannotBeStoredGivesResultOne) {
  // Value names are limited to 16,383 characters; a longer one is refused by the store.
  const std::string tooLong(20000, 'N');
  EXPECT_EQ(WriteRegInt(HKEY_CURRENT_USER, RoutinePath(), tooLong, 10), 1);
  EXPECT_FALSE(ReadRaw(HKEY_CURRENT_USER, RawPath(), tooLong).Exists);
}

// Each call is one open-use-close cycle on a key of its own, with all access asked.
TEST_F(RegIntTest, EachCallOpensUsesAndClosesItsOwnKey) {
  ASSERT_EQ(WriteRawDword(HKEY_CURRENT_USER, RawPath(), "Top", 3), ERROR_SUCCESS);
  const char text[] = "120";
  ASSERT_EQ(WriteRaw(HKEY_CURRENT_USER, RawPath(), "Text", REG_SZ, text, sizeof(text)), ERROR_SUCCESS);

  struct Case {
    const char* Name;
    int Result;
  };
  for (Case c : {Case{"Top", 0}, Case{"Missing", 1}, Case{"Text", 1}}) {
    SCOPED_TRACE(c.Name);
    TRegTrace trace;
    ASSERT_TRUE(trace.Active());
    int value = 0;
    EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, RoutinePath(), c.Name, value), c.Result);
    const auto calls = trace.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].Op, "open");
    EXPECT_EQ(calls[0].Text, RawPath());  // backslash dropped
    EXPECT_EQ(calls[0].Access, static_cast<REGSAM>(KEY_ALL_ACCESS));
    EXPECT_EQ(calls[0].Options, 0u);
    EXPECT_EQ(calls[1].Op, "query");
    EXPECT_EQ(calls[1].Text, c.Name);
    EXPECT_EQ(calls[1].Key, calls[0].Key);
    EXPECT_EQ(calls[1].Size, 4u);
    EXPECT_EQ(calls[2].Op, "close");
    EXPECT_EQ(calls[2].Key, calls[0].Key);
    EXPECT_EQ(calls[2].Status, ERROR_SUCCESS);
  }
  {
    TRegTrace trace;
    ASSERT_TRUE(trace.Active());
    EXPECT_EQ(WriteRegInt(HKEY_CURRENT_USER, RoutinePath(), "Left", -4), 0);
    const auto calls = trace.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].Op, "create");
    EXPECT_EQ(calls[0].Text, RawPath());
    EXPECT_EQ(calls[0].Access, static_cast<REGSAM>(KEY_ALL_ACCESS));
    EXPECT_EQ(calls[0].Options, static_cast<DWORD>(REG_OPTION_NON_VOLATILE));
    EXPECT_EQ(calls[1].Op, "set");
    EXPECT_EQ(calls[1].Text, "Left");
    EXPECT_EQ(calls[1].Type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(calls[1].Size, 4u);
    EXPECT_EQ(calls[1].Key, calls[0].Key);
    EXPECT_EQ(calls[2].Op, "close");
    EXPECT_EQ(calls[2].Key, calls[0].Key);
  }
  {
    // A value that cannot be stored still has its key closed.
    TRegTrace trace;
    ASSERT_TRUE(trace.Active());
    EXPECT_EQ(WriteRegInt(HKEY_CURRENT_USER, RoutinePath(), std::string(20000, 'N'), 1), 1);
    const auto calls = trace.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].Op, "set");
    EXPECT_NE(calls[1].Status, ERROR_SUCCESS);
    EXPECT_EQ(calls[2].Op, "close");
    EXPECT_EQ(calls[2].Key, calls[0].Key);
  }
  {
    // An open that fails leaves nothing to close.
    TRegTrace trace;
    ASSERT_TRUE(trace.Active());
    int value = 5;
    EXPECT_EQ(ReadRegInt(HKEY_CURRENT_USER, "\\" + ScratchPath() + "\\Nowhere", "Top", value), 1);
    const auto calls = trace.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Op, "open");
    EXPECT_NE(calls[0].Status, ERROR_SUCCESS);
  }
}

}  // namespace
