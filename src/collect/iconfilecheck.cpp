#include "collect/iconfilecheck.h"

bool IconSourceIsSound(std::uint64_t fileSize, const TReadAt& readAt) { return ReadIconFile(fileSize, readAt).Sound; }

// ---- Reading a named file --------------------------------------------------------------
// (left out when the pure part above is built on its own for another system)
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/owners.h"

namespace {

// Reads at offsets through windows of the file kept in memory, so the many small reads of
// a resource walk cost few calls wherever they jump: a read that no window holds fills a
// new one, 64 KB from the page it starts in, and up to 8 MB of windows are kept (past
// that the one used longest ago makes room), so no part of a file that size is read
// twice. Reads of half a window or more go straight to the file. The windows' memory
// stays with the thread from one file to the next: memory the system has to hand out
// afresh for every file costs more than reading into it.
class TWindowReader {
public:
  TWindowReader(HANDLE file, std::uint64_t size) : FFile(file), FSize(size), FWindows(ThreadWindows()) {
    FWindows.reserve(MaxWindows);
  }

  bool Read(std::uint64_t offset, void* buffer, std::size_t length) {
    if (length >= WindowBytes / 2) return ReadRaw(offset, buffer, length);
    const TWindow* window = Find(offset, length);
    if (!window) return false;
    std::memcpy(buffer, window->Bytes.data() + (offset - window->Start), length);
    return true;
  }

private:
  static constexpr std::size_t WindowBytes = 64 * 1024;
  static constexpr std::size_t MaxWindows = 128;

  struct TWindow {
    std::uint64_t Start = 0, LastUse = 0;
    std::vector<unsigned char> Bytes;
    bool Holds(std::uint64_t offset, std::size_t length) const {
      return offset >= Start && offset - Start <= Bytes.size() && length <= Bytes.size() - (offset - Start);
    }
  };
  static std::vector<TWindow>& ThreadWindows() {
    thread_local std::vector<TWindow> windows;
    return windows;
  }

  const TWindow* Find(std::uint64_t offset, std::size_t length) {
    ++FClock;
    if (FLast && FLast->Holds(offset, length)) {
      FLast->LastUse = FClock;
      return FLast;
    }
    for (std::size_t i = 0; i < FUsed; ++i)  // a handful for most files
      if (FWindows[i].Holds(offset, length)) {
        FWindows[i].LastUse = FClock;
        return FLast = &FWindows[i];
      }
    TWindow* slot = nullptr;
    if (FUsed < FWindows.size()) {
      slot = &FWindows[FUsed++];
    } else if (FWindows.size() < MaxWindows) {
      FWindows.emplace_back();
      slot = &FWindows[FUsed++];
    } else {
      slot = &*std::min_element(FWindows.begin(), FWindows.end(),
                                [](const TWindow& a, const TWindow& b) { return a.LastUse < b.LastUse; });
    }
    const std::uint64_t start = offset / 4096 * 4096;
    if (start >= FSize) return nullptr;
    slot->Start = start;
    slot->LastUse = FClock;
    slot->Bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(WindowBytes, FSize - start)));
    if (!ReadRaw(start, slot->Bytes.data(), slot->Bytes.size())) {
      slot->Bytes.clear();
      return nullptr;
    }
    FLast = slot;
    return slot->Holds(offset, length) ? slot : nullptr;
  }

  bool ReadRaw(std::uint64_t offset, void* buffer, std::size_t length) {
    if (length > 0xFFFFFFFFu) return false;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    return ReadFile(FFile, buffer, static_cast<DWORD>(length), &got, &at) && got == length;
  }

  HANDLE FFile;
  std::uint64_t FSize;
  std::uint64_t FClock = 0;
  std::vector<TWindow>& FWindows;  // room for all made at once: pointers into it stay valid
  std::size_t FUsed = 0;           // windows holding this file's bytes
  TWindow* FLast = nullptr;
};

}  // namespace

bool IconFileIsSound(const std::string& fileName) {
  // Sharing as wide as the shell's own open, so a file we cannot open it cannot either.
  TFileHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    // The shell cannot open it either and reports no icons by itself. A name too long
    // for the narrow calls is the exception: the shell's own wide open might still reach
    // a file that was never checked, so it is kept away from it.
    return fileName.size() < MAX_PATH;
  }
  // Devices, pipes and consoles could block a read or never end; they hold no icons.
  // Nothing but a plain disk file is read, and the shell is kept away from the rest.
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) return false;
  // One query gives both the size and whether it is a folder (cheaper than the full
  // information record, which also asks the volume).
  FILE_STANDARD_INFO info;
  if (!GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &info, sizeof info) || info.Directory ||
      info.EndOfFile.QuadPart < 0)
    return false;
  const auto size = static_cast<std::uint64_t>(info.EndOfFile.QuadPart);
  TWindowReader reader(file.Get(), size);
  return IconSourceIsSound(size,
                           [&reader](std::uint64_t offset, void* buffer, std::size_t length) {
                             return reader.Read(offset, buffer, length);
                           });
}

#endif  // _WIN32
