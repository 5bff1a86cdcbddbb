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

// Reads at offsets through a window of the file, so the many small reads of a resource
// walk cost few calls.
class TWindowedReader {
public:
  TWindowedReader(HANDLE file, std::uint64_t size) : FFile(file), FSize(size) {}

  bool Read(std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset >= FStart && offset - FStart <= FWindow.size() && length <= FWindow.size() - (offset - FStart)) {
      std::memcpy(buffer, FWindow.data() + (offset - FStart), length);
      return true;
    }
    if (length > WindowBytes) return ReadRaw(offset, buffer, length);
    const std::size_t fill = static_cast<std::size_t>(std::min<std::uint64_t>(WindowBytes, FSize - offset));
    FWindow.resize(fill);
    FStart = offset;
    if (!ReadRaw(offset, FWindow.data(), fill)) {
      FWindow.clear();
      return false;
    }
    std::memcpy(buffer, FWindow.data(), length);
    return true;
  }

private:
  static constexpr std::size_t WindowBytes = 64 * 1024;

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
  std::uint64_t FStart = 0;
  std::vector<unsigned char> FWindow;
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
  TWindowedReader reader(file.Get(), size);
  return IconSourceIsSound(size,
                           [&reader](std::uint64_t offset, void* buffer, std::size_t length) {
                             return reader.Read(offset, buffer, length);
                           });
}

#endif  // _WIN32
