#include "runtime/failure.h"

#include <windows.h>

#include <new>

void Raise(const char* text) { throw EFailure(text); }

void RaiseFmt(const char* format, const std::string& arg) {
  std::string text(format);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  throw EFailure(std::move(text));
}

void RaiseLastSystemError() {
  const DWORD code = GetLastError();
  if (code != 0) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
            FORMAT_MESSAGE_ARGUMENT_ARRAY,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length != 0 && buffer != nullptr) {
      std::string text(buffer, length);
      LocalFree(buffer);
      // The system's texts end in a line break, which the error box does not want.
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      if (!text.empty()) throw EFailure(std::move(text));
    } else if (buffer != nullptr) {
      LocalFree(buffer);
    }
  }
  throw EFailure(msg::OutOfResources);
}

std::string FailureText(const std::exception& e) {
  if (auto* failure = dynamic_cast<const EFailure*>(&e)) return failure->Message();
  if (dynamic_cast<const std::bad_alloc*>(&e)) return msg::OutOfMemory;
  return e.what();
}

std::string CurrentFailureText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return FailureText(e);
  } catch (...) {
    // Only C++ exceptions of the program's own kind arise on its paths; anything else
    // is reported with the generic text.
    return "予期しないエラーが発生しました";
  }
}
