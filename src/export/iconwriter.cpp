#include "export/iconwriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/failure.h"
#include "runtime/owners.h"

namespace {

DWORD RowLength(LONG width, WORD bitsPerPixel) {
  return ((static_cast<DWORD>(width) * bitsPerPixel + 31) & ~31u) / 8;
}

template <class T>
void Append(std::vector<unsigned char>& out, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void AppendBlock(std::vector<unsigned char>& out, const std::vector<unsigned char>& block) {
  out.insert(out.end(), block.begin(), block.end());
}

}  // namespace

void MakeDIBHeader(HBITMAP bitmap, int colors, BITMAPINFOHEADER& header) {
  // Room for a DIB section's full description; only the BITMAP part is read.
  DIBSECTION description{};
  if (bitmap == nullptr || GetObjectA(bitmap, sizeof description, &description) == 0)
    Raise(msg::InvalidBitmapImage);
  const BITMAP& bm = description.dsBm;
  std::memset(&header, 0, sizeof header);
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = bm.bmWidth;
  header.biHeight = bm.bmHeight;
  if (colors == 2) {
    header.biBitCount = 1;
  } else if (colors >= 3 && colors <= 16) {
    header.biBitCount = 4;
    header.biClrUsed = colors;
  } else if (colors >= 17 && colors <= 256) {
    header.biBitCount = 8;
    header.biClrUsed = colors;
  } else {
    header.biBitCount = static_cast<WORD>(bm.bmPlanes * bm.bmBitsPixel);
  }
  header.biPlanes = 1;
  header.biSizeImage = RowLength(header.biWidth, header.biBitCount) * std::labs(header.biHeight);
}

TDIBSizes MeasureDIB(HBITMAP bitmap, int colors) {
  BITMAPINFOHEADER header;
  MakeDIBHeader(bitmap, colors, header);
  TDIBSizes sizes{sizeof(BITMAPINFOHEADER), header.biSizeImage};
  if (header.biBitCount <= 8) {
    const DWORD entries = header.biClrUsed != 0 ? header.biClrUsed : (1u << header.biBitCount);
    sizes.HeaderSize += entries * sizeof(RGBQUAD);
  } else if (header.biCompression & 3) {
    sizes.HeaderSize += 3 * sizeof(DWORD);  // bit-field masks follow the header
  }
  return sizes;
}

bool FetchDIB(HBITMAP bitmap, HPALETTE palette, void* header, void* bits, int colors) {
  auto* info = static_cast<BITMAPINFOHEADER*>(header);
  BITMAPINFOHEADER requested;
  MakeDIBHeader(bitmap, colors, requested);
  *info = requested;
  TMemDC dc(CreateCompatibleDC(nullptr));
  if (!dc) RaiseLastSystemError();
  TPaletteSelect selected(dc.Get(), palette);
  const bool fetched = GetDIBits(dc.Get(), bitmap, 0, static_cast<UINT>(std::labs(requested.biHeight)), bits,
                                 reinterpret_cast<BITMAPINFO*>(info), DIB_RGB_COLORS) != 0;
  // The retrieval may rewrite fields of the header (some platforms clear the colours
  // used); the pixels come in the format asked for, so that header is the one kept.
  *info = requested;
  return fetched;
}

std::vector<unsigned char> BuildIconImage(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) info = ICONINFO{};
  const TOwnedBitmap mask(info.hbmMask);
  const TOwnedBitmap color(info.hbmColor);

  const TDIBSizes maskSizes = MeasureDIB(mask.Get(), 2);
  const TDIBSizes colorSizes = MeasureDIB(color.Get(), 16);
  std::vector<unsigned char> maskHeader(maskSizes.HeaderSize);
  std::vector<unsigned char> maskBits(maskSizes.BitsSize);
  std::vector<unsigned char> colorHeader(colorSizes.HeaderSize);
  std::vector<unsigned char> colorBits(colorSizes.BitsSize);

  // A retrieval that delivers nothing would leave zero-filled blocks behind, which would
  // be written as a black, fully opaque square: that is reported, not saved.
  if (!FetchDIB(mask.Get(), nullptr, maskHeader.data(), maskBits.data(), 2) ||
      !FetchDIB(color.Get(), nullptr, colorHeader.data(), colorBits.data(), 16))
    Raise(msg::InvalidBitmapImage);

  BITMAPINFOHEADER header;
  std::memcpy(&header, colorHeader.data(), sizeof header);

  std::vector<unsigned char> image;
  image.reserve(6 + 16 + colorHeader.size() + colorBits.size() + maskBits.size());
  // Directory header: reserved, type icon, one image.
  Append<WORD>(image, 0);
  Append<WORD>(image, 1);
  Append<WORD>(image, 1);
  // Directory entry, from the colour header before its height is doubled. Planes and bit
  // count stay 0: the bitmap header carries the real ones.
  Append<BYTE>(image, static_cast<BYTE>(header.biWidth));
  Append<BYTE>(image, static_cast<BYTE>(header.biHeight));
  Append<BYTE>(image, 16);
  Append<BYTE>(image, 0);
  Append<WORD>(image, 0);
  Append<WORD>(image, 0);
  Append<DWORD>(image, colorSizes.HeaderSize + colorSizes.BitsSize + maskSizes.BitsSize);
  Append<DWORD>(image, 22);
  // The bitmap header of an icon image counts colour rows and mask rows together.
  header.biHeight *= 2;
  std::memcpy(colorHeader.data(), &header, sizeof header);
  AppendBlock(image, colorHeader);
  AppendBlock(image, colorBits);
  AppendBlock(image, maskBits);
  return image;
}

namespace {

// A file of this program's own beside the target: the new image until it is moved into
// place, or the old file's content while it is being replaced. Removed when the owner
// ends unless it was handed over (moved into place, or kept as the only copy left).
class TScratchFile {
public:
  TScratchFile() = default;
  ~TScratchFile() {
    if (!FName.empty()) DeleteFileA(FName.c_str());
  }
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;

  // Creates a new, empty file of a name no file has yet in folder (which ends in a
  // separator) and returns it open for writing; an invalid handle when the folder takes
  // no new file.
  TFileHandle Create(const std::string& folder) {
    const DWORD seed = GetTickCount() ^ (GetCurrentProcessId() << 8);
    for (DWORD attempt = 0; attempt < 64; ++attempt) {
      char name[16];
      std::snprintf(name, sizeof name, "~gd%04X.tmp", static_cast<unsigned>((seed + attempt * 7919) & 0xFFFF));
      const std::string path = folder + name;
      TFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
      if (file) {
        FName = path;
        return file;
      }
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return TFileHandle();
  }
  const std::string& Name() const noexcept { return FName; }
  void HandOver() noexcept { FName.clear(); }

private:
  std::string FName;
};

enum class TTarget { Absent, RegularFile, Other };

// What the chosen name names now. A folder, a device or a pipe cannot be replaced by a
// file without being destroyed, so those are refused rather than written.
TTarget ExamineTarget(const std::string& fileName) {
  const TFileHandle probe(CreateFileA(fileName.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  // A name that cannot be opened is treated as new; the final move never replaces
  // anything, so a file that was there after all is left alone and reported.
  if (!probe) return TTarget::Absent;
  if (GetFileType(probe.Get()) != FILE_TYPE_DISK) return TTarget::Other;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(probe.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return TTarget::Other;
  return TTarget::RegularFile;
}

// The folder part of fileName's full name, with its final separator.
bool FolderOf(const std::string& fileName, std::string& folder) {
  char full[MAX_PATH];
  char* namePart = nullptr;
  const DWORD length = GetFullPathNameA(fileName.c_str(), MAX_PATH, full, &namePart);
  if (length == 0 || length >= MAX_PATH || namePart == nullptr) return false;
  folder.assign(full, namePart);
  return true;
}

void WriteImage(HANDLE file, const std::vector<unsigned char>& image) {
  DWORD written = 0;
  const BOOL ok = WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr);
  // A file system may report a full disk only when the data reaches it.
  if (!ok || written != image.size() || !FlushFileBuffers(file)) Raise(msg::StreamWriteError);
}

}  // namespace

void SaveIconFile(const TIcon& icon, const std::string& fileName) {
  // The image is complete before any file is touched: a failure here leaves the
  // chosen file as it was.
  if (icon.Empty()) Raise(msg::InvalidIconImage);
  const std::vector<unsigned char> image = BuildIconImage(icon.Handle());

  const TTarget target = ExamineTarget(fileName);
  std::string folder;
  if (target == TTarget::Other || !FolderOf(fileName, folder)) RaiseFmt(msg::CannotCreateFile, fileName);

  // The new image goes into a file of its own in the same folder, so the old file keeps
  // its content until the new one is whole.
  TScratchFile newImage;
  {
    const TFileHandle file = newImage.Create(folder);
    if (!file) RaiseFmt(msg::CannotCreateFile, fileName);
    WriteImage(file.Get(), image);
  }

  if (target == TTarget::Absent) {
    // Never replaces: a name that appeared meanwhile, or one that could not be examined,
    // stays as it is.
    if (!MoveFileExA(newImage.Name().c_str(), fileName.c_str(), MOVEFILE_WRITE_THROUGH))
      RaiseFmt(msg::CannotCreateFile, fileName);
    newImage.HandOver();
    return;
  }

  // ReplaceFileA keeps the old file's attributes (and its security and short name). The
  // old content is moved to a reserved name rather than dropped, so that a replacement
  // that stops half way can put it back: without one, a failed last step loses it.
  TScratchFile oldContent;
  if (!oldContent.Create(folder)) RaiseFmt(msg::CannotCreateFile, fileName);
  if (ReplaceFileA(fileName.c_str(), newImage.Name().c_str(), oldContent.Name().c_str(), 0, nullptr, nullptr)) {
    newImage.HandOver();
    return;  // the old content goes with its owner
  }
  if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The old file was moved aside but the new one not moved in: the old one goes back,
    // and where it cannot, it stays under the reserved name rather than being removed.
    MoveFileExA(oldContent.Name().c_str(), fileName.c_str(), MOVEFILE_WRITE_THROUGH);
    oldContent.HandOver();
  }
  RaiseFmt(msg::CannotCreateFile, fileName);
}
