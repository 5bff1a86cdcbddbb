// Records the registry calls the test executable makes while a trace lives, by routing
// its import slots for the five registry functions through recorders that log each call
// and then call the real function. Everything in this executable calls the registry
// through those slots, so the trace sees exactly what the routines under test do, in
// order, with their arguments and the platform's answers.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace regtest {

struct TRegCall {
  std::string Op;  // "open", "create", "query", "set", "close"
  std::string Text;  // sub-key path for open/create, value name for query/set
  HKEY Key = nullptr;  // handle opened, or handle used/closed
  REGSAM Access = 0;
  DWORD Options = 0;
  DWORD Type = 0;
  DWORD Size = 0;  // buffer size passed in (query) or data size (set)
  LONG Status = 0;
};

inline std::vector<TRegCall>& TraceLog() {
  static std::vector<TRegCall> log;
  return log;
}

namespace detail {

using OpenFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
using CreateFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM,
                               LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
using QueryFn = LONG(WINAPI*)(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
using SetFn = LONG(WINAPI*)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
using CloseFn = LONG(WINAPI*)(HKEY);

struct TReal {
  OpenFn Open = nullptr;
  CreateFn Create = nullptr;
  QueryFn Query = nullptr;
  SetFn Set = nullptr;
  CloseFn Close = nullptr;
};
inline TReal& Real() {
  static TReal real;
  return real;
}

inline LONG WINAPI TracedOpen(HKEY root, LPCSTR sub, DWORD options, REGSAM access, PHKEY out) {
  LONG status = Real().Open(root, sub, options, access, out);
  TRegCall call;
  call.Op = "open";
  call.Text = sub ? sub : "";
  call.Key = status == ERROR_SUCCESS ? *out : nullptr;
  call.Access = access;
  call.Options = options;
  call.Status = status;
  TraceLog().push_back(call);
  return status;
}
inline LONG WINAPI TracedCreate(HKEY root, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options,
                                REGSAM access, LPSECURITY_ATTRIBUTES sa, PHKEY out,
                                LPDWORD disposition) {
  LONG status = Real().Create(root, sub, reserved, cls, options, access, sa, out, disposition);
  TRegCall call;
  call.Op = "create";
  call.Text = sub ? sub : "";
  call.Key = status == ERROR_SUCCESS ? *out : nullptr;
  call.Access = access;
  call.Options = options;
  call.Status = status;
  TraceLog().push_back(call);
  return status;
}
inline LONG WINAPI TracedQuery(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                               LPDWORD size) {
  TRegCall call;
  call.Op = "query";
  call.Text = name ? name : "";
  call.Key = key;
  call.Size = size ? *size : 0;
  LONG status = Real().Query(key, name, reserved, type, data, size);
  call.Type = type ? *type : 0;
  call.Status = status;
  TraceLog().push_back(call);
  return status;
}
inline LONG WINAPI TracedSet(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                             DWORD size) {
  LONG status = Real().Set(key, name, reserved, type, data, size);
  TRegCall call;
  call.Op = "set";
  call.Text = name ? name : "";
  call.Key = key;
  call.Type = type;
  call.Size = size;
  call.Status = status;
  TraceLog().push_back(call);
  return status;
}
inline LONG WINAPI TracedClose(HKEY key) {
  LONG status = Real().Close(key);
  TRegCall call;
  call.Op = "close";
  call.Key = key;
  call.Status = status;
  TraceLog().push_back(call);
  return status;
}

// The import slot of this executable that holds `target`, or null.
inline void** FindImportSlot(void* target) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return nullptr;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    for (auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
         slot->u1.Function != 0; ++slot) {
      if (reinterpret_cast<void*>(slot->u1.Function) == target)
        return reinterpret_cast<void**>(&slot->u1.Function);
    }
  }
  return nullptr;
}

inline bool WriteSlot(void** slot, void* value) {
  DWORD old = 0;
  if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) return false;
  *slot = value;
  VirtualProtect(slot, sizeof(void*), old, &old);
  return true;
}

}  // namespace detail

class TRegTrace {
public:
  TRegTrace() {
    // Read through the import slots themselves, before they are rerouted.
    detail::TReal& real = detail::Real();
    real.Open = &RegOpenKeyExA;
    real.Create = &RegCreateKeyExA;
    real.Query = &RegQueryValueExA;
    real.Set = &RegSetValueExA;
    real.Close = &RegCloseKey;
    Hook(reinterpret_cast<void*>(real.Open), reinterpret_cast<void*>(&detail::TracedOpen));
    Hook(reinterpret_cast<void*>(real.Create), reinterpret_cast<void*>(&detail::TracedCreate));
    Hook(reinterpret_cast<void*>(real.Query), reinterpret_cast<void*>(&detail::TracedQuery));
    Hook(reinterpret_cast<void*>(real.Set), reinterpret_cast<void*>(&detail::TracedSet));
    Hook(reinterpret_cast<void*>(real.Close), reinterpret_cast<void*>(&detail::TracedClose));
    TraceLog().clear();
  }
  ~TRegTrace() {
    for (auto it = FHooked.rbegin(); it != FHooked.rend(); ++it) detail::WriteSlot(it->first, it->second);
  }
  TRegTrace(const TRegTrace&) = delete;
  TRegTrace& operator=(const TRegTrace&) = delete;

  // All five slots found and rerouted: a trace that sees nothing must not pass for one
  // that saw no calls.
  bool Active() const { return FHooked.size() == 5; }
  const std::vector<TRegCall>& Calls() const { return TraceLog(); }

private:
  void Hook(void* real, void* traced) {
    if (!real) return;
    void** slot = detail::FindImportSlot(real);
    if (slot && detail::WriteSlot(slot, traced)) FHooked.emplace_back(slot, real);
  }
  std::vector<std::pair<void**, void*>> FHooked;
};

}  // namespace regtest
