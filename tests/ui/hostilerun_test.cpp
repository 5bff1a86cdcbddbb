// Hostile and odd inputs through a whole collection run of the real main window: every
// file gets a defined outcome (its icons, or none), the run ends, and nothing crashes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <utility>
#include <random>

#include "collect/hostile_files.h"
#include "support/fixtures.h"
#include "ui/programfixture.h"

namespace {
std::string TempFolder() {
  char path[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, path);
  std::string folder = std::string(path) + "gd-hostile-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

void WriteFileBytes(const std::string& name, const std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::vector<unsigned char> ReadPrefix(const std::string& name, std::size_t count) {
  std::vector<unsigned char> bytes(count);
  HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD read = 0;
  if (file != INVALID_HANDLE_VALUE) {
    ReadFile(file, bytes.data(), static_cast<DWORD>(count), &read, nullptr);
    CloseHandle(file);
  }
  bytes.resize(read);
  return bytes;
}
}  // namespace

TEST_F(TProgramTest, HostileFilesGiveNoIconsAndTheRunGoesOn) {
  const std::string folder = TempFolder();
  const std::string three = FixturePath("three.dll");
  std::vector<std::string> files;
  // Each hostile file sits between two good ones, so the numbering shows it added nothing.
  auto add = [&](const std::string& name) {
    files.push_back(name);
    files.push_back(three);
  };
  files.push_back(three);
  WriteFileBytes(folder + "\\zero.dll", {});
  add(folder + "\\zero.dll");
  WriteFileBytes(folder + "\\notepad-cut.exe", ReadPrefix(SystemDllPath("notepad.exe"), 1500));
  add(folder + "\\notepad-cut.exe");
  WriteFileBytes(folder + "\\shell32-cut.dll", ReadPrefix(SystemDllPath("shell32.dll"), 200000));
  add(folder + "\\shell32-cut.dll");
  hostile::TBytes ico = hostile::IcoFile(32);
  ico.resize(100);
  WriteFileBytes(folder + "\\cut.ico", ico);
  add(folder + "\\cut.ico");
  std::mt19937 random(7);
  hostile::TBytes noise(65536);
  for (auto& b : noise) b = static_cast<unsigned char>(random());
  noise[0] = 'M';
  noise[1] = 'Z';  // random bytes that still start like a program
  WriteFileBytes(folder + "\\noise.dll", noise);
  add(folder + "\\noise.dll");
  add(folder);                       // a folder
  add("NUL");                        // a device
  add(folder + "\\missing.dll");     // nothing there
  add("");                           // an empty name
  add(std::string(300, 'x') + ".dll");  // longer than any path
  // One file of each kind of crafted icon image and of each crafted file shape (the
  // shell crashes or stalls on them, or the check would take seconds).
  for (const char* crafted : fixture::CraftedFiles) add(FixturePath(crafted));
  for (const char* crafted : fixture::CraftedShapes) add(FixturePath(crafted));
  // Odd files the shell reads without fault keep their icons, as does the cheap-to-check
  // one whose language entries jump to and fro.
  std::vector<std::pair<std::string, int>> counted;  // file, its icons
  for (const fixture::TSoundOddity& odd : fixture::SoundOddities) {
    add(FixturePath(odd.Name));
    counted.emplace_back(FixturePath(odd.Name), static_cast<int>(odd.Icons));
  }
  add(FixturePath(fixture::ThrashDll));
  counted.emplace_back(FixturePath(fixture::ThrashDll), 1);

  MainForm->Store().Clear();
  *MainForm->FileList() = files;
  const DWORD started = GetTickCount();
  MainForm->CollectIcons();
  std::cout << "[          ] " << files.size() << " files collected in " << GetTickCount() - started << " ms\n";

  // Every entry comes from a good file or a sound odd one, in the order of the list.
  std::vector<std::string> expected;
  for (const std::string& name : files) {
    if (name == three) expected.insert(expected.end(), 3, three);
    for (const auto& c : counted)
      if (name == c.first) expected.insert(expected.end(), static_cast<std::size_t>(c.second), name);
  }
  TIconStore& store = MainForm->Store();
  ASSERT_EQ(store.EntryCount(), static_cast<int>(expected.size()));
  for (int k = 0; k < store.EntryCount(); ++k) {
    ASSERT_EQ(store.Caption(k), "Icon" + std::to_string(k + 1));
    ASSERT_EQ(store.SubItem(k), expected[static_cast<std::size_t>(k)]) << k;
  }
  // The good files' icons came through whole: the last three are red, green and blue.
  const int last = store.EntryCount() - 3;
  for (int k = 0; k < 3; ++k) {
    TIcon icon;
    store.GetIcon(store.ImageIndex(last + k), &icon);
    const TIconPixels pixels = ReadIconPixels(icon.Handle());
    ASSERT_EQ(pixels.Width, 32);
    EXPECT_EQ(pixels.At(16, 16), fixture::ThreeColours[k]) << "icon " << last + k;
    EXPECT_TRUE(pixels.ClearAt(0, 0)) << "icon " << last + k;
  }
  EXPECT_TRUE(MainForm->FileList()->empty());
  EXPECT_FALSE(BusyDlg->Visible());
}

// The shapes whose cost the reader now charges before paying it (make_hostile.py), each
// at full size between two good files: the run ends, and every good icon is in place.
// Sound shapes may give the shell's icons or none; refused ones give none.
TEST_F(TProgramTest, CostlyShapesBetweenGoodFilesAreCollectedAndTheGoodIconsKept) {
  const std::string three = FixturePath("three.dll");
  std::vector<std::string> files{three};
  for (const char* shape : {"empty-group.dll", "failing-png.ico", "ne-lookups.exe", "pe-pairs.dll", "long-stated.ico",
                            "one-image-many.ico", "png-names.ico", "bad-crc-png.ico"}) {
    const std::string name = FixturePath((std::string("hostile\\") + shape).c_str());
    ASSERT_NE(GetFileAttributesA(name.c_str()), INVALID_FILE_ATTRIBUTES) << name;
    files.push_back(name);
    files.push_back(three);
  }
  MainForm->Store().Clear();
  *MainForm->FileList() = files;
  const DWORD started = GetTickCount();
  MainForm->CollectIcons();
  std::cout << "[          ] " << files.size() << " files, 8 of them costly shapes, collected in "
            << GetTickCount() - started << " ms\n";

  // Each good file's three icons in a row, red, green and blue; captions in list order.
  TIconStore& store = MainForm->Store();
  int good = 0;
  for (int k = 0; k < store.EntryCount(); ++k) {
    ASSERT_EQ(store.Caption(k), "Icon" + std::to_string(k + 1));
    if (store.SubItem(k) != three) continue;
    const int n = good++ % 3;
    if (n > 0) ASSERT_EQ(store.SubItem(k - 1), three) << "entry " << k;
    TIcon icon;
    store.GetIcon(store.ImageIndex(k), &icon);
    EXPECT_EQ(ReadIconPixels(icon.Handle()).At(16, 16), fixture::ThreeColours[n]) << "entry " << k;
  }
  EXPECT_EQ(good, 3 * 9);
  EXPECT_TRUE(MainForm->FileList()->empty());
  EXPECT_FALSE(BusyDlg->Visible());
}

TEST_F(TProgramTest, AThousandFilesAndRepeatedNamesInOneRun) {
  const std::string none = FixturePath("noicons.dll"), two = FixturePath("two.dll");
  std::vector<std::string> files(1000, none);
  files[0] = two;
  files[999] = two;  // the same file listed twice is read twice
  MainForm->Store().Clear();
  *MainForm->FileList() = files;
  MainForm->CollectIcons();
  TIconStore& store = MainForm->Store();
  ASSERT_EQ(store.EntryCount(), 4);
  EXPECT_EQ(store.Caption(3), "Icon4");
  EXPECT_EQ(store.SubItem(3), two);
  EXPECT_EQ(BusyDlg->ProgressMax(), 1000);
  EXPECT_EQ(BusyDlg->ProgressPosition(), 999);
  EXPECT_EQ(TIcon::LiveHandles(), 0);
}
