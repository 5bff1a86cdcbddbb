// Names the narrow code page cannot spell reach the narrow calls as the same file, and the
// folder check leaves nothing behind: against Wine's real file system.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "runtime/filenames.h"
#include "runtime/owners.h"
#include "support/fixtures.h"

namespace {

// A scratch folder of this process's own, removed with everything in it.
class TScratchFolder {
public:
  TScratchFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    FPath = std::wstring(temp) + L"glyphdock-names-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(FPath.c_str(), nullptr);
  }
  ~TScratchFolder() {
    for (const std::wstring& name : Entries()) DeleteFileW((FPath + name).c_str());
    RemoveDirectoryW(FPath.c_str());
  }
  const std::wstring& Path() const { return FPath; }
  std::vector<std::wstring> Entries() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((FPath + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
  }

private:
  std::wstring FPath;
};

// The volume and file index of a file: equal for two names of the same file.
std::pair<DWORD, ULONGLONG> Identity(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return {0, 0};
  return {info.dwVolumeSerialNumber, (ULONGLONG{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

TEST(NarrowFileName, EveryNameNamesTheSameFileThroughTheNarrowCalls) {
  TScratchFolder folder;
  const std::wstring fixture = WideText(FixturePath("three.dll"));
  struct TCase {
    std::wstring Name;
    bool Unchanged;  // code page 932 spells it
  };
  const std::vector<TCase> cases = {
      {L"plain.dll", true},
      {L"\u65e5\u672c\u8a9e\u306e\u540d\u524d.dll", true},  // Japanese
      {L"r\u00e9sum\u00e9.dll", false},
      {L"\ud55c\uae00 \uba54\ubaa8\uc7a5.exe", false},  // Hangul
      {L"emoji \U0001F600.exe", false},                 // beyond the basic plane
  };
  for (const TCase& c : cases) {
    const std::wstring full = folder.Path() + c.Name;
    ASSERT_TRUE(CopyFileW(fixture.c_str(), full.c_str(), FALSE));
    const std::string narrow = NarrowFileName(full);
    if (c.Unchanged) {
      EXPECT_EQ(WideText(narrow), full);
    } else {
      // The short name: another, plain spelling of the same file.
      EXPECT_NE(narrow.find('~'), std::string::npos) << narrow;
    }
    const TFileHandle byNarrow(CreateFileA(narrow.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                           nullptr));
    const TFileHandle byWide(CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                         nullptr));
    ASSERT_TRUE(byNarrow) << narrow;
    ASSERT_TRUE(byWide);
    EXPECT_EQ(Identity(byNarrow.Get()), Identity(byWide.Get())) << narrow;
    // And the shell reads its icons through it.
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(ExtractIconA(GetModuleHandleA(nullptr), narrow.c_str(), UINT(-1))), 3u)
        << narrow;
  }
  // A name with neither form goes on as the narrow calls would spell it, and opens nothing.
  const std::string missing = NarrowFileName(folder.Path() + L"gone \u00e9.dll");
  EXPECT_EQ(missing.find('~'), std::string::npos);
  EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(NarrowFileName(L""), "");
}

TEST(FolderAcceptsNewFile, AnswersForTheFolderAndLeavesNothingBehind) {
  TScratchFolder folder;
  const std::string path = NarrowFileName(folder.Path());  // a plain temporary folder
  EXPECT_TRUE(FolderAcceptsNewFile(path));
  EXPECT_TRUE(folder.Entries().empty());
  EXPECT_FALSE(FolderAcceptsNewFile(path + "no such folder\\"));
  EXPECT_TRUE(folder.Entries().empty());
}

}  // namespace
