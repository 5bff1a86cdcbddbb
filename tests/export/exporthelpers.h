// Helpers shared by the export tests: icons made in the test, scratch folders, file
// contents, and running a program of the host system beside the test.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "runtime/owners.h"

namespace exporttest {

inline constexpr COLORREF Red = RGB(255, 0, 0);
inline constexpr COLORREF Green = RGB(0, 255, 0);
inline constexpr COLORREF Blue = RGB(0, 0, 255);

using TColorAt = std::function<COLORREF(int x, int y)>;
using TTransparentAt = std::function<bool(int x, int y)>;

// A 32 x 32 colour icon with a screen-compatible colour bitmap, like the ones the icon
// store hands out. Transparent pixels are black in the colour bitmap.
inline HICON MakeIcon(const TColorAt& color, const TTransparentAt& transparent) {
  std::vector<DWORD> pixels(32 * 32);
  std::vector<unsigned char> maskBits(32 * 4, 0);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool clear = transparent(x, y);
      const COLORREF c = clear ? RGB(0, 0, 0) : color(x, y);
      pixels[y * 32 + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
      if (clear) maskBits[y * 4 + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  }
  TScreenDC screen;
  TOwnedBitmap colorBitmap(CreateCompatibleBitmap(screen.Get(), 32, 32));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = 32;
  info.bmiHeader.biHeight = -32;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  SetDIBits(screen.Get(), colorBitmap.Get(), 0, 32, pixels.data(), &info, DIB_RGB_COLORS);
  TOwnedBitmap maskBitmap(CreateBitmap(32, 32, 1, 1, maskBits.data()));
  ICONINFO icon{TRUE, 0, 0, maskBitmap.Get(), colorBitmap.Get()};
  return CreateIconIndirect(&icon);
}

// Red, green and blue vertical stripes inside a transparent border two pixels wide.
inline bool BorderTransparent(int x, int y) { return x < 2 || y < 2 || x >= 30 || y >= 30; }
inline COLORREF Stripes(int x, int) { return x < 12 ? Red : x < 21 ? Green : Blue; }
inline HICON MakeStripesIcon() { return MakeIcon(Stripes, BorderTransparent); }

// Thousands of colours, transparent outside a circle.
inline bool OutsideCircle(int x, int y) { return (x - 16) * (x - 16) + (y - 16) * (y - 16) > 14 * 14; }
inline COLORREF Gradient(int x, int y) {
  return RGB(x * 8 + 3, y * 8 + 5, (x * 5 + y * 3) & 0xFF);
}
inline HICON MakeGradientIcon() { return MakeIcon(Gradient, OutsideCircle); }

// A folder of its own for one test, removed with what it holds at the end.
class TScratchFolder {
public:
  explicit TScratchFolder(const std::string& parent = std::string()) {
    std::string base = parent;
    if (base.empty()) {
      char temp[MAX_PATH] = {};
      GetTempPathA(MAX_PATH, temp);
      base = temp;
    }
    if (base.back() != '\\') base += '\\';
    CreateDirectoryA(base.c_str(), nullptr);
    for (int n = 0;; ++n) {
      FPath = base + "gdexport" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(n);
      if (CreateDirectoryA(FPath.c_str(), nullptr)) break;
    }
  }
  ~TScratchFolder() {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((FPath + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = FPath + "\\" + found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
          SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
          DeleteFileA(name.c_str());
        }
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(FPath.c_str());
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  const std::string& Path() const noexcept { return FPath; }
  std::string File(const std::string& name) const { return FPath + "\\" + name; }

private:
  std::string FPath;
};

// The names in a folder, sorted: what a save leaves behind, scratch files included.
inline std::vector<std::string> FolderContents(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
    if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..") names.push_back(found.cFileName);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

inline bool FileExists(const std::string& name) {
  return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<unsigned char> ReadBytes(const std::string& name) {
  std::vector<unsigned char> bytes;
  TFileHandle file(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return bytes;
  unsigned char block[4096];
  DWORD got = 0;
  while (ReadFile(file.Get(), block, sizeof block, &got, nullptr) && got > 0)
    bytes.insert(bytes.end(), block, block + got);
  return bytes;
}

inline void WriteBytes(const std::string& name, const std::vector<unsigned char>& bytes) {
  TFileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline unsigned Word(const std::vector<unsigned char>& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
inline unsigned long DWord(const std::vector<unsigned char>& b, std::size_t at) {
  return Word(b, at) | (static_cast<unsigned long>(Word(b, at + 2)) << 16);
}

// The host side: present when the program runs under Wine, which maps Z: to the host's
// root and runs host programs from CreateProcess.
inline bool HostSideAvailable() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

inline std::string HostPathToWindows(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}
inline std::string WindowsPathToHost(const std::string& path) {
  std::string unixPath = path.substr(2);
  for (char& c : unixPath)
    if (c == '\\') c = '/';
  return unixPath;
}

// Runs a shell command on the host; its standard output and error go to a file that is
// read back once the command has finished. The process handle Wine returns for a host
// program cannot be waited on, so the end is seen through a marker file instead.
// workFolder must be a Windows path on Z:. Returns false when the command did not end in
// time; output receives what it printed and status its exit code.
inline bool RunHostCommand(const std::string& workFolder, const std::string& command, std::string& output,
                           int& status, DWORD timeoutMs = 30000) {
  static int serial = 0;
  const std::string stem = workFolder + "\\host" + std::to_string(GetCurrentProcessId()) + "_" +
                           std::to_string(++serial);
  DeleteFileA((stem + ".out").c_str());
  DeleteFileA((stem + ".done").c_str());
  const std::string outName = stem + ".out", doneName = stem + ".done";
  // The host has no Japanese locale; its programs speak plain C there.
  const std::string script = "export LC_ALL=C LANG=C; ( " + command + " ) > '" + WindowsPathToHost(outName) + "' 2>&1; echo $? > '" +
                             WindowsPathToHost(doneName) + ".tmp'; mv '" + WindowsPathToHost(doneName) +
                             ".tmp' '" + WindowsPathToHost(doneName) + "'";
  std::string commandLine = "/bin/sh -c \"" + script + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  TKernelHandle thread(process.hThread), processHandle(process.hProcess);
  const DWORD start = GetTickCount();
  while (!FileExists(doneName)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  const std::vector<unsigned char> done = ReadBytes(doneName);
  status = std::atoi(std::string(done.begin(), done.end()).c_str());
  const std::vector<unsigned char> out = ReadBytes(outName);
  output.assign(out.begin(), out.end());
  DeleteFileA(outName.c_str());
  DeleteFileA(doneName.c_str());
  return true;
}

}  // namespace exporttest
