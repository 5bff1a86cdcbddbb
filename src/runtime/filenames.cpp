#include "runtime/filenames.h"

#include <string>

#include "runtime/owners.h"

namespace {
// Conversions use the code page of the narrow calls (932 where the program is meant to
// run): a narrow name must be in it for CreateFileA and ExtractIconA to find the file.
bool ConvertsWithoutLoss(const std::wstring& wide, std::string& narrow) {
  if (wide.empty()) {
    narrow.clear();
    return true;
  }
  BOOL usedDefault = FALSE;
  const int size = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr,
                                        &usedDefault);
  if (bytes <= 0 || usedDefault) return false;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), bytes, nullptr, &usedDefault);
  // The way back must give the same name, or the narrow calls would open another file.
  if (usedDefault || WideText(out) != wide) return false;
  narrow = std::move(out);
  return true;
}

std::string LossyNarrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), size, out.data(), bytes, nullptr, nullptr);
  return out;
}
}  // namespace

std::wstring WideText(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(chars > 0 ? chars : 0), L'\0');
  if (chars > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), chars);
  return out;
}

std::string NarrowFileName(const std::wstring& name) {
  std::string narrow;
  if (ConvertsWithoutLoss(name, narrow)) return narrow;
  // A long name with no narrow form: the system's narrow name for it is its short name.
  const DWORD needed = GetShortPathNameW(name.c_str(), nullptr, 0);
  if (needed > 0) {
    std::wstring shortName(needed, L'\0');
    const DWORD length = GetShortPathNameW(name.c_str(), shortName.data(), needed);
    if (length > 0 && length < needed) {
      shortName.resize(length);
      if (ConvertsWithoutLoss(shortName, narrow)) return narrow;
    }
  }
  return LossyNarrow(name);
}

bool FolderAcceptsNewFile(const std::string& folder) {
  const std::string probe = folder + "~glyphdock-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  const TFileHandle file(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                     nullptr));
  return static_cast<bool>(file);
}
