// Failures are exceptions of one type carrying a CP932 message text.
// They are caught only at the program's catching points (window dispatch, the main
// window's creation step, the start-up body and the worker's step runner).
#pragma once

#include <exception>
#include <string>

class EFailure : public std::exception {
public:
  explicit EFailure(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

// The fixed table of the program's own messages (CP932 once compiled).
namespace msg {
inline constexpr char CannotCreateFile[] = "ファイル %s を作成できません";
inline constexpr char StreamWriteError[] = "ストリームへの書き込みエラー";
inline constexpr char InvalidIconImage[] = "アイコンイメージが不正です";
inline constexpr char InvalidBitmapImage[] = "ビットマップイメージが不正です";
inline constexpr char CannotOpenClipboard[] = "クリップボードを開くことができません";
inline constexpr char OutOfResources[] = "システム リソースが足りません";
inline constexpr char OutOfMemory[] = "メモリが足りません";
inline constexpr char InvalidImageSize[] = "イメージサイズが正しくありません";
inline constexpr char InvalidImageList[] = "不正なイメージ リスト";
inline constexpr char CannotShowModal[] = "表示されているウィンドウをモーダルにすることはできません";
inline constexpr char RegReadFailed[] = "'%s' の取得に失敗しました";
inline constexpr char RegTypeInvalid[] = "'%s' のデータ型が不正です";
inline constexpr char RegWriteFailed[] = "'%s' の設定に失敗しました";
}  // namespace msg

[[noreturn]] void Raise(const char* text);
// Raises a message of the table whose one "%s" is filled with arg.
[[noreturn]] void RaiseFmt(const char* format, const std::string& arg);
// Raises the system's own text for GetLastError(), or "システム リソースが足りません"
// when the system gives none.
[[noreturn]] void RaiseLastSystemError();

// The text a caught exception is shown with: EFailure's own text, "メモリが足りません"
// for exhausted memory, the runtime's text for anything else.
std::string FailureText(const std::exception& e);
// The same, for the exception currently being handled (call inside a catch block).
std::string CurrentFailureText();
