// The icon source check against real files written to a temp folder, and the shell's
// real extraction run over every file the check lets through: a crash there ends the
// test program.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "collect/iconfilecheck.h"
#include "collect/hostile_files.h"
#include "runtime/owners.h"

namespace {

using hostile::Put16;
using hostile::Put32;
using hostile::TBytes;

TBytes Prefix(const TBytes& b, std::size_t length) { return TBytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(length)); }

std::string SystemDirectory() {
  char buffer[MAX_PATH] = {};
  GetSystemDirectoryA(buffer, MAX_PATH);
  return buffer;
}

TBytes ReadWholeFile(const std::string& name) {
  TFileHandle file(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  LARGE_INTEGER size;
  GetFileSizeEx(file.Get(), &size);
  TBytes b(static_cast<std::size_t>(size.QuadPart));
  DWORD got = 0;
  if (!b.empty() && !ReadFile(file.Get(), b.data(), static_cast<DWORD>(b.size()), &got, nullptr)) return {};
  b.resize(got);
  return b;
}

// Counts a file's icons the way a collection does and extracts each one.
UINT ShellIconCount(const std::string& name, UINT* nonNull = nullptr) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  const UINT count = static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(self, name.c_str(), static_cast<UINT>(-1))));
  if (nonNull) *nonNull = 0;
  for (UINT i = 0; i < count && i < 4096; ++i) {
    TOwnedIcon icon(ExtractIconA(self, name.c_str(), i));
    if (icon && nonNull) ++*nonNull;
  }
  return count;
}

// The pure check over bytes in memory; every read is also checked to stay inside.
bool BytesAreSound(const TBytes& b, bool* readOutside = nullptr) {
  return IconSourceIsSound(b.size(), [&](std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > b.size() || length > b.size() - offset) {
      if (readOutside) *readOutside = true;
      return false;
    }
    if (length) std::memcpy(buffer, b.data() + offset, length);
    return true;
  });
}

class IconFileCheck : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    FFolder = std::string(temp) + "gd_filecheck_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(FFolder.c_str(), nullptr);
  }
  static void TearDownTestSuite() {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((FFolder + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((FFolder + found.cFileName).c_str());
      } while (FindNextFileA(find, &found));
      FindClose(find);
    }
    RemoveDirectoryA((FFolder + "folder").c_str());
    RemoveDirectoryA(FFolder.c_str());
  }

  static std::string Write(const std::string& leaf, const TBytes& b) {
    const std::string name = FFolder + leaf;
    TFileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_TRUE(file) << name;
    DWORD written = 0;
    if (file && !b.empty()) WriteFile(file.Get(), b.data(), static_cast<DWORD>(b.size()), &written, nullptr);
    EXPECT_EQ(written, b.size());
    return name;
  }

  // Writes the bytes, checks them, and lets the shell read them when they pass.
  static bool Judge(const std::string& leaf, const TBytes& b) {
    const std::string name = Write(leaf, b);
    bool outside = false;
    const bool sound = IconFileIsSound(name);
    EXPECT_EQ(sound, BytesAreSound(b, &outside)) << leaf;
    EXPECT_FALSE(outside) << leaf << ": read past the end";
    if (sound) ShellIconCount(name);
    return sound;
  }

  static std::string FFolder;
};
std::string IconFileCheck::FFolder;

TEST_F(IconFileCheck, FilesInNoIconFormPassAndTheShellFindsNothing) {
  EXPECT_TRUE(Judge("empty.dll", {}));
  EXPECT_EQ(ShellIconCount(FFolder + "empty.dll"), 0u);
  const std::string text = "これはテキストです。\r\nplain text, no icons\r\n";
  EXPECT_TRUE(Judge("note.txt", TBytes(text.begin(), text.end())));
  EXPECT_EQ(ShellIconCount(FFolder + "note.txt"), 0u);

  std::mt19937 random(20240611);
  TBytes noise(70000);
  for (auto& byte : noise) byte = static_cast<unsigned char>(random());
  noise[0] = 0x37;  // neither "MZ" nor an icon header
  noise[2] = 0x55;
  EXPECT_TRUE(Judge("noise.dll", noise));
  EXPECT_EQ(ShellIconCount(FFolder + "noise.dll"), 0u);
}

TEST_F(IconFileCheck, TruncatedSystemFilesFailTheirWholeSelvesPass) {
  const std::string system = SystemDirectory();
  const TBytes notepad = ReadWholeFile(system + "\\notepad.exe");
  const TBytes shell32 = ReadWholeFile(system + "\\shell32.dll");
  ASSERT_GT(notepad.size(), 1500u);
  ASSERT_GT(shell32.size(), 200000u);
  EXPECT_FALSE(Judge("notepad_1500.exe", Prefix(notepad, 1500)));
  EXPECT_FALSE(Judge("shell32_200000.dll", Prefix(shell32, 200000)));
  EXPECT_TRUE(Judge("notepad.exe", notepad));
  UINT shown = 0;
  EXPECT_GT(ShellIconCount(FFolder + "notepad.exe", &shown), 0u);
  EXPECT_GT(shown, 0u);
}

// Cuts a real program at many places; whatever passes is handed to the shell.
TEST_F(IconFileCheck, EveryCutOfARealProgramIsSafeForTheShell) {
  const TBytes notepad = ReadWholeFile(SystemDirectory() + "\\notepad.exe");
  ASSERT_FALSE(notepad.empty());
  int refused = 0, cuts = 0;
  for (std::size_t length = 0; length < notepad.size(); length += notepad.size() / 97 + 1, ++cuts)
    if (!Judge("notepad_cut.exe", Prefix(notepad, length))) ++refused;
  std::cout << "[          ] notepad.exe: " << refused << " of " << cuts << " cuts refused\n";
  EXPECT_GT(refused, cuts / 2);
}

TEST_F(IconFileCheck, SynthesizedProgramPassesAndEveryCutThroughItsIconsFails) {
  const hostile::TPeFile pe = hostile::PeFile(2);
  ASSERT_TRUE(Judge("made.dll", pe.Bytes));
  UINT shown = 0;
  EXPECT_EQ(ShellIconCount(FFolder + "made.dll", &shown), 2u);
  EXPECT_EQ(shown, 2u);

  // Two bytes and more say "MZ"; from there every cut must fail.
  for (std::size_t length = 2; length < pe.IconDataEnd; ++length) {
    bool outside = false;
    ASSERT_FALSE(BytesAreSound(Prefix(pe.Bytes, length), &outside)) << "cut at " << length;
    ASSERT_FALSE(outside) << "cut at " << length;
  }
  // The same through real files at one place in each part.
  const std::size_t places[] = {0x20, 0x46, pe.OptionalHeader + 100, pe.SectionTable + 20, pe.ResourceRoot + 8,
                                pe.GroupTypeDirectory + 20, pe.FirstGroupData + 10, pe.FirstIconData + 300};
  for (std::size_t place : places) EXPECT_FALSE(Judge("made_cut.dll", Prefix(pe.Bytes, place))) << place;
}

TEST_F(IconFileCheck, CorruptedProgramHeadersFail) {
  const hostile::TPeFile pe = hostile::PeFile(1);
  auto patched = [&](std::size_t at, std::uint32_t value, bool wide) {
    TBytes b = pe.Bytes;
    wide ? Put32(b, at, value) : Put16(b, at, value);
    return b;
  };
  EXPECT_FALSE(Judge("lfanew_garbage.dll", patched(0x3C, 0x10, true)));
  EXPECT_FALSE(Judge("lfanew_past_end.dll", patched(0x3C, 0x7FFFFF00, true)));
  EXPECT_FALSE(Judge("lfanew_negative.dll", patched(0x3C, 0xFFFFFFF0, true)));
  EXPECT_FALSE(Judge("lfanew_at_end.dll", patched(0x3C, static_cast<std::uint32_t>(pe.Bytes.size() - 2), true)));
  EXPECT_FALSE(Judge("optional_huge.dll", patched(0x54, 0xFFFF, false)));
  EXPECT_FALSE(Judge("sections_huge.dll", patched(0x46, 0xFFFF, false)));
  EXPECT_FALSE(Judge("magic_unknown.dll", patched(pe.OptionalHeader, 0x1234, false)));
  EXPECT_FALSE(Judge("optional_short.dll", patched(0x54, 100, false)));
  EXPECT_FALSE(Judge("raw_past_end.dll", patched(pe.SectionTable + 20, 0x7FFFF000, true)));
  EXPECT_FALSE(Judge("root_unmapped.dll", patched(pe.OptionalHeader + 128, 0x9000, true)));
  // Without a resource directory the shell reads nothing more and finds no icons.
  TBytes bare = patched(pe.OptionalHeader + 128, 0, true);
  EXPECT_TRUE(Judge("no_resources.dll", bare));
  EXPECT_EQ(ShellIconCount(FFolder + "no_resources.dll"), 0u);
}

TEST_F(IconFileCheck, ResourceTreesThatLoopOrLeaveTheFileFail) {
  const hostile::TPeFile pe = hostile::PeFile(1);
  const std::size_t root = pe.ResourceRoot;
  auto patched = [&](std::size_t at, std::uint32_t value) {
    TBytes b = pe.Bytes;
    Put32(b, at, value);
    return b;
  };
  // The group type leads back to the root, or a name to its own directory.
  EXPECT_FALSE(Judge("loop_root.dll", patched(root + 16 + 8 + 4, 0x80000000u)));
  const std::size_t groupType = pe.GroupTypeDirectory;
  EXPECT_FALSE(Judge("loop_self.dll",
                     patched(groupType + 16 + 4, 0x80000000u | static_cast<std::uint32_t>(groupType - root))));
  EXPECT_FALSE(Judge("dir_outside.dll", patched(groupType + 16 + 4, 0xFFFFFF00u)));
  EXPECT_FALSE(Judge("entry_count_huge.dll", patched(root + 12, 0xFFFF0000u)));
  // A name that says directory no more, and a language that says directory.
  EXPECT_FALSE(Judge("name_not_dir.dll", patched(groupType + 16 + 4, hostile::Get32(pe.Bytes, groupType + 16 + 4) & 0x7FFFFFFFu)));
  const std::size_t groupLang = root + (hostile::Get32(pe.Bytes, groupType + 16 + 4) & 0x7FFFFFFFu);
  EXPECT_FALSE(Judge("lang_is_dir.dll", patched(groupLang + 16 + 4, 0x80000000u)));
  const std::size_t groupEntry = root + hostile::Get32(pe.Bytes, groupLang + 16 + 4);
  EXPECT_FALSE(Judge("data_unmapped.dll", patched(groupEntry, 0x50000)));
  EXPECT_FALSE(Judge("data_too_long.dll", patched(groupEntry + 4, 0x100000)));
  EXPECT_FALSE(Judge("data_wraps.dll", patched(groupEntry + 4, 0xFFFFFF00u)));
  EXPECT_FALSE(Judge("group_count_huge.dll", patched(pe.FirstGroupData + 4, 0x0000FFFF)));
  // A named type with its name string outside the file.
  EXPECT_FALSE(Judge("name_outside.dll", patched(root + 16, 0x80000000u | 0x00FFFFF0u)));
}

TEST_F(IconFileCheck, GroupNamingAMissingIconFails) {
  EXPECT_FALSE(Judge("missing_icon.dll", hostile::PeFile(3, 99).Bytes));
  EXPECT_TRUE(Judge("present_icon.dll", hostile::PeFile(3, 2).Bytes));
}

TEST_F(IconFileCheck, HundredsOfGroupsPassQuickly) {
  const hostile::TPeFile pe = hostile::PeFile(700);
  const std::string name = Write("many.dll", pe.Bytes);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(IconFileIsSound(name));
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "[          ] 700 icon groups checked in " << ms << " ms\n";
  EXPECT_LT(ms, 1000.0);
  EXPECT_EQ(ShellIconCount(name), 700u);
}

TEST_F(IconFileCheck, IconFilesAreCheckedImageByImage) {
  const TBytes ico = hostile::IcoFile(32);
  ASSERT_EQ(ico.size(), 4286u);
  EXPECT_TRUE(Judge("whole.ico", ico));
  UINT shown = 0;
  EXPECT_EQ(ShellIconCount(FFolder + "whole.ico", &shown), 1u);
  EXPECT_EQ(shown, 1u);
  EXPECT_TRUE(Judge("sixteen.ico", hostile::IcoFile(4)));

  EXPECT_FALSE(Judge("cut_100.ico", Prefix(ico, 100)));
  EXPECT_FALSE(Judge("cut_entry.ico", Prefix(ico, 15)));
  EXPECT_FALSE(Judge("cut_header.ico", Prefix(ico, 5)));
  TBytes b = ico;
  Put16(b, 4, 0);
  EXPECT_FALSE(Judge("no_images.ico", b));
  b = ico;
  Put32(b, 18, 0x7FFFFFF0u);
  EXPECT_FALSE(Judge("image_outside.ico", b));
  b = ico;
  Put32(b, 14, 0xFFFFFFF0u);
  EXPECT_FALSE(Judge("image_wraps.ico", b));
  b = ico;
  Put16(b, 4, 200);  // more entries than the file holds
  EXPECT_FALSE(Judge("entries_outside.ico", b));
  b = ico;
  Put16(b, 2, 2);  // a cursor file is held to the same rules
  EXPECT_TRUE(Judge("cursor.cur", b));
  EXPECT_FALSE(Judge("cursor_cut.cur", Prefix(b, 100)));
}

TEST_F(IconFileCheck, SixteenBitProgramsAreCheckedToo) {
  const hostile::TNeFile ne = hostile::NeFile();
  ASSERT_TRUE(Judge("old.exe", ne.Bytes));
  UINT shown = 0;
  const UINT count = ShellIconCount(FFolder + "old.exe", &shown);
  std::cout << "[          ] shell on a 16-bit program: " << count << " icon(s), " << shown << " extracted\n";

  for (std::size_t length = 2; length < ne.Bytes.size(); ++length) {
    bool outside = false;
    ASSERT_FALSE(BytesAreSound(Prefix(ne.Bytes, length), &outside)) << "cut at " << length;
    ASSERT_FALSE(outside);
  }
  EXPECT_FALSE(Judge("old_cut_table.exe", Prefix(ne.Bytes, ne.ResourceTable + 12)));
  EXPECT_FALSE(Judge("old_cut_icon.exe", Prefix(ne.Bytes, ne.IconData + 100)));

  TBytes b = ne.Bytes;
  Put16(b, ne.TableEnd - 2, 0x8006);  // the table no longer ends before the file does
  for (std::size_t at = ne.TableEnd; at < b.size(); ++at) b[at] = 0xFF;
  EXPECT_FALSE(Judge("old_unended.exe", b));
  b = ne.Bytes;
  Put16(b, ne.ResourceTable, 30);  // places shifted past 32 bits
  EXPECT_FALSE(Judge("old_shift.exe", b));
  b = ne.Bytes;
  Put16(b, ne.ResourceTable + 2 + 20 + 8 + 2, 0x4000);  // group data far past the end
  EXPECT_FALSE(Judge("old_group_outside.exe", b));
  b = ne.Bytes;
  Put16(b, ne.GroupData + 18, 7);  // the group names an icon that is not there
  EXPECT_FALSE(Judge("old_missing_icon.exe", b));
  b = ne.Bytes;
  Put16(b, 0x40 + 0x24, 0xFF00);  // resource table outside the file
  EXPECT_FALSE(Judge("old_table_outside.exe", b));
}

// Runs the check on another thread and reports whether it came back in time.
bool ReturnsWithin(const std::string& name, bool& result, int seconds = 5) {
  auto done = std::make_shared<std::atomic<int>>(-1);
  std::thread([name, done] { done->store(IconFileIsSound(name) ? 1 : 0); }).detach();
  for (int i = 0; i < seconds * 100 && done->load() < 0; ++i) Sleep(10);
  result = done->load() == 1;
  return done->load() >= 0;
}

TEST_F(IconFileCheck, FoldersAndDevicesNeverReachTheShell) {
  const std::string folder = FFolder + "folder";
  CreateDirectoryA(folder.c_str(), nullptr);
  // A folder cannot be opened as a file: it passes, and the shell finds nothing there.
  EXPECT_TRUE(IconFileIsSound(folder));
  EXPECT_EQ(ShellIconCount(folder), 0u);

  bool sound = true;
  ASSERT_TRUE(ReturnsWithin("NUL", sound));
  EXPECT_FALSE(sound);
  ASSERT_TRUE(ReturnsWithin("CON", sound));
  ASSERT_TRUE(ReturnsWithin("Z:\\dev\\zero", sound));
  EXPECT_FALSE(sound);
  ASSERT_TRUE(ReturnsWithin("\\\\.\\pipe\\gd_filecheck_absent", sound));
  EXPECT_TRUE(sound);  // no such pipe: cannot be opened

  // A live pipe with a server that never writes: opened, then refused unread.
  const std::string pipeName = "\\\\.\\pipe\\gd_filecheck_" + std::to_string(GetCurrentProcessId());
  TFileHandle server(CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                      4096, 0, nullptr));
  ASSERT_TRUE(server);
  ASSERT_TRUE(ReturnsWithin(pipeName, sound));
  EXPECT_FALSE(sound);
}

// A file-system FIFO with no writer: an open or read of it could wait for ever.
TEST_F(IconFileCheck, FifoIsRefusedWithoutWaiting) {
  const std::string unixName = "/tmp/gd_filecheck_fifo_" + std::to_string(GetCurrentProcessId());
  std::string command = "/usr/bin/mkfifo " + unixName;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    GTEST_SKIP() << "no way to make a FIFO here (not running on a Unix host)";
  TKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
  const std::string name = "Z:" + unixName;
  // The Unix program's handle cannot be waited on; watch the folder for the FIFO.
  auto listed = [&name] {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(name.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return find != INVALID_HANDLE_VALUE;
  };
  for (int i = 0; i < 500 && !listed(); ++i) Sleep(10);
  if (!listed()) GTEST_SKIP() << "mkfifo did not run";
  bool sound = true;
  const bool returned = ReturnsWithin(name, sound);
  std::string remove = "/bin/rm -f " + unixName;  // the Windows side cannot delete a FIFO
  PROCESS_INFORMATION remover{};
  if (CreateProcessA(nullptr, &remove[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &remover)) {
    TKernelHandle removerProcess(remover.hProcess), removerThread(remover.hThread);
  }
  ASSERT_TRUE(returned);
  EXPECT_FALSE(sound);
}

TEST_F(IconFileCheck, JapaneseNamesAreOpened) {
  const TBytes cut = Prefix(hostile::IcoFile(32), 100);
  // "表" ends in the byte of a backslash; a refusal shows the file was opened and read.
  const std::string japanese = FFolder + "アイコン表示テスト.ico";
  {
    TFileHandle probe(CreateFileA(japanese.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!probe) GTEST_SKIP() << "this host cannot store Japanese file names (no ja_JP.UTF-8 locale for Wine)";
  }
  EXPECT_FALSE(IconFileIsSound(Write("アイコン表示テスト.ico", cut)));
  EXPECT_TRUE(IconFileIsSound(Write("アイコン表示テスト_完全.ico", hostile::IcoFile(4))));
  EXPECT_EQ(ShellIconCount(FFolder + "アイコン表示テスト_完全.ico"), 1u);
}

TEST_F(IconFileCheck, NamesUpToTheLimitAreOpenedLongerOnesNeverPassUnread) {
  const TBytes cut = Prefix(hostile::IcoFile(32), 100);
  const std::size_t room = MAX_PATH - 1 - FFolder.size();
  ASSERT_GT(room, 10u);
  const std::string longest = Write(std::string(room - 4, 'a') + ".ico", cut);
  ASSERT_EQ(longest.size(), MAX_PATH - 1u);
  EXPECT_FALSE(IconFileIsSound(longest));
  EXPECT_TRUE(IconFileIsSound(Write(std::string(room - 4, 'c') + ".ico", hostile::IcoFile(4))));

  // One character more. Whether the narrow open reaches it is the platform's matter;
  // either way the cut file must not pass.
  const std::string tooLong = FFolder + std::string(room - 3, 'b') + ".ico";
  const std::wstring wide = L"\\\\?\\" + std::wstring(tooLong.begin(), tooLong.end());
  {
    TFileHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    WriteFile(file.Get(), cut.data(), static_cast<DWORD>(cut.size()), &written, nullptr);
  }
  EXPECT_FALSE(IconFileIsSound(tooLong));
  DeleteFileW(wide.c_str());
  // A long name that leads nowhere fails too; a short one passes (the shell finds none).
  EXPECT_FALSE(IconFileIsSound(FFolder + std::string(400, 'x') + ".dll"));
  EXPECT_TRUE(IconFileIsSound(FFolder + "absent.dll"));
  EXPECT_EQ(ShellIconCount(FFolder + "absent.dll"), 0u);
}

// Every program file of the system passes, and the check costs little next to a count.
TEST_F(IconFileCheck, EverySystemProgramPasses) {
  const std::string system = SystemDirectory();
  std::vector<std::string> names;
  for (const char* pattern : {"\\*.dll", "\\*.exe"}) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((system + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(system + "\\" + found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  ASSERT_GT(names.size(), 100u);

  // The shell's count runs first, so both passes find the files in the system's cache.
  using ms = std::chrono::duration<double, std::milli>;
  const auto start = std::chrono::steady_clock::now();
  UINT icons = 0;
  for (const std::string& name : names)
    icons += static_cast<UINT>(reinterpret_cast<UINT_PTR>(ExtractIconA(GetModuleHandleA(nullptr), name.c_str(), static_cast<UINT>(-1))));
  const auto counted = std::chrono::steady_clock::now();
  int refused = 0;
  for (const std::string& name : names) {
    if (!IconFileIsSound(name)) {
      ++refused;
      ADD_FAILURE() << "refused: " << name;
    }
  }
  const auto checked = std::chrono::steady_clock::now();
  std::cout << "[          ] " << names.size() << " system files, " << icons << " icons; shell count "
            << ms(counted - start).count() << " ms, check " << ms(checked - counted).count() << " ms\n";
  EXPECT_EQ(refused, 0);

  const std::string shell32 = system + "\\shell32.dll";
  EXPECT_TRUE(IconFileIsSound(shell32));
  const UINT count = ShellIconCount(shell32);
  std::cout << "[          ] shell32.dll: " << count << " icons\n";
  EXPECT_GT(count, 100u);
}

}  // namespace
