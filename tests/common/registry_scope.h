// A scratch registry area for the settings tests, so a developer's own settings are
// never touched: a per-process key under the real HKEY_CURRENT_USER, optionally standing
// in for HKEY_CURRENT_USER itself while the scope lives.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace regtest {

inline std::string ScratchPath() {
  return "Software\\Quillfen\\GlyphdockTests\\common-" + std::to_string(GetCurrentProcessId());
}

class TScratchKey {
public:
  // redirectCurrentUser: HKEY_CURRENT_USER opens the scratch key until the scope ends.
  explicit TScratchKey(bool redirectCurrentUser) {
    RegDeleteTreeA(HKEY_CURRENT_USER, ScratchPath().c_str());
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, ScratchPath().c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &FKey, nullptr);
    EXPECT_EQ(status, ERROR_SUCCESS) << "scratch key not created";
    if (redirectCurrentUser && status == ERROR_SUCCESS) {
      FRedirected = RegOverridePredefKey(HKEY_CURRENT_USER, FKey) == ERROR_SUCCESS;
      EXPECT_TRUE(FRedirected) << "HKEY_CURRENT_USER not redirected";
    }
  }
  ~TScratchKey() {
    if (FRedirected) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    if (FKey) RegCloseKey(FKey);
    RegDeleteTreeA(HKEY_CURRENT_USER, ScratchPath().c_str());
    // The parents go only when empty: other runs and real settings stay.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quillfen\\GlyphdockTests");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Quillfen");
  }
  TScratchKey(const TScratchKey&) = delete;
  TScratchKey& operator=(const TScratchKey&) = delete;

  HKEY Get() const { return FKey; }
  bool Ready() const { return FKey != nullptr; }

private:
  HKEY FKey = nullptr;
  bool FRedirected = false;
};

// Raw access to one value under root\path, bypassing the routines under test.
struct TRawValue {
  bool Exists = false;
  DWORD Type = 0;
  std::vector<BYTE> Data;
};

inline TRawValue ReadRaw(HKEY root, const std::string& path, const std::string& name) {
  TRawValue result;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return result;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &result.Type, nullptr, &size) == ERROR_SUCCESS) {
    result.Data.resize(size);
    result.Exists = RegQueryValueExA(key, name.c_str(), nullptr, &result.Type,
                                     result.Data.empty() ? nullptr : result.Data.data(),
                                     &size) == ERROR_SUCCESS;
    result.Data.resize(size);
  }
  RegCloseKey(key);
  return result;
}

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline LONG WriteRaw(HKEY root, const std::string& path, const std::string& name, DWORD type,
                     const void* data, DWORD size) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return status;
}

inline LONG WriteRawDword(HKEY root, const std::string& path, const std::string& name, int value) {
  DWORD data = static_cast<DWORD>(value);
  return WriteRaw(root, path, name, REG_DWORD, &data, sizeof(data));
}

inline int DwordOf(const TRawValue& v) {
  if (v.Type != REG_DWORD || v.Data.size() != 4) return -999999;
  return static_cast<int>(v.Data[0] | v.Data[1] << 8 | v.Data[2] << 16 |
                          static_cast<unsigned>(v.Data[3]) << 24);
}

}  // namespace regtest
