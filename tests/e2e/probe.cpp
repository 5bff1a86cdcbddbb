// Reads what a person would see of a running Glyphdock from outside its process: window
// rectangles and states, the list's entries, menu and tool bar states, the status line,
// open dialogs and message boxes, the clipboard's picture and the stored placement.
//
// It reads commands from stdin, one a line, and answers each with lines of text ending in
// a line holding a single ".". Texts are converted from the program's code page to UTF-8;
// rectangles are screen coordinates "left,top,right,bottom". The journey driver keeps one
// probe running for the whole run, so each question costs a round trip, not a start-up.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::string& narrow) {
  if (narrow.empty()) return narrow;
  const int wide = MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), w.data(), wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
  // One answer line per item: line breaks inside a text are shown escaped.
  std::string escaped;
  for (char c : out) {
    if (c == '\n') escaped += "\\n";
    else if (c == '\r') escaped += "\\r";
    else escaped += c;
  }
  return escaped;
}

void Line(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fputc('\n', stdout);
}

std::string Hex(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(p)));
  return buffer;
}

std::string RectText(const RECT& r) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
  return buffer;
}

// The text the window system keeps for a window: read without sending the program a
// message, so it answers even while the program's UI thread is busy with a long step.
std::string StoredText(HWND window) {
  char buffer[2048] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// WM_GETTEXT itself, for edit boxes: GetWindowText does not ask a control of another
// process, so their typed text would be missed. The system carries the text back.
std::string WindowText(HWND window) {
  char buffer[2048] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                           2000, &copied)) {
    return "<no answer>";
  }
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

std::string ClassOf(HWND window) {
  char buffer[256] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

RECT ScreenRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

// A block of memory inside the program's process, for the control messages whose
// answers are written through a pointer: the control writes into its own address space.
class TRemoteBlock {
public:
  TRemoteBlock(HWND window, SIZE_T size) : FSize(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    FProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (FProcess) FAddress = VirtualAllocEx(FProcess, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~TRemoteBlock() {
    if (FAddress) VirtualFreeEx(FProcess, FAddress, 0, MEM_RELEASE);
    if (FProcess) CloseHandle(FProcess);
  }
  TRemoteBlock(const TRemoteBlock&) = delete;
  TRemoteBlock& operator=(const TRemoteBlock&) = delete;

  bool Valid() const { return FAddress != nullptr; }
  char* At(SIZE_T offset) const { return static_cast<char*>(FAddress) + offset; }
  LPARAM Param(SIZE_T offset = 0) const { return reinterpret_cast<LPARAM>(At(offset)); }
  bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
    return offset + size <= FSize && WriteProcessMemory(FProcess, At(offset), data, size, nullptr);
  }
  bool Read(SIZE_T offset, void* data, SIZE_T size) const {
    return offset + size <= FSize && ReadProcessMemory(FProcess, At(offset), data, size, nullptr);
  }
  std::string ReadText(SIZE_T offset, SIZE_T capacity) const {
    std::vector<char> buffer(capacity + 1, '\0');
    if (!Read(offset, buffer.data(), capacity)) return std::string();
    return std::string(buffer.data());
  }

private:
  HANDLE FProcess = nullptr;
  void* FAddress = nullptr;
  SIZE_T FSize = 0;
};

constexpr SIZE_T TextCapacity = 1024;

std::string ListItemText(HWND list, const TRemoteBlock& block, int item, int subItem) {
  LVITEMA lv{};
  lv.iSubItem = subItem;
  lv.cchTextMax = static_cast<int>(TextCapacity);
  lv.pszText = block.At(sizeof lv);
  if (!block.Write(0, &lv, sizeof lv)) return "<unwritable>";
  const LRESULT length = SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), block.Param());
  return block.ReadText(sizeof lv, static_cast<SIZE_T>(length) < TextCapacity ? static_cast<SIZE_T>(length) : TextCapacity);
}

void DescribeMenu(const char* tag, HMENU menu, const std::string& path) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    char caption[512] = {};
    GetMenuStringA(menu, static_cast<UINT>(i), caption, sizeof caption, MF_BYPOSITION);
    const bool separator = (state & MF_SEPARATOR) != 0;
    const bool grayed = (state & (MF_GRAYED | MF_DISABLED)) != 0;
    const std::string where = path.empty() ? std::to_string(i) : path + "." + std::to_string(i);
    Line(std::string(tag) + " " + where + " " + (separator ? "sep" : grayed ? "disabled" : "enabled") + " " +
         Utf8(caption));
    if (HMENU sub = GetSubMenu(menu, i)) DescribeMenu(tag, sub, where);
  }
}

void DescribeWindow(const char* tag, HWND window) {
  Line(std::string(tag) + " hwnd=" + Hex(window) + " class=" + ClassOf(window) +
       " visible=" + (IsWindowVisible(window) ? "1" : "0") + " enabled=" + (IsWindowEnabled(window) ? "1" : "0") +
       " rect=" + RectText(ScreenRect(window)) + " title=" + Utf8(StoredText(window)));
}

BOOL CALLBACK DescribeChild(HWND child, LPARAM) {
  char line[128];
  std::snprintf(line, sizeof line, "child id=%d visible=%d enabled=%d rect=", GetDlgCtrlID(child),
                IsWindowVisible(child) ? 1 : 0, IsWindowEnabled(child) ? 1 : 0);
  const std::string cls = ClassOf(child);
  const std::string text = cls == "Edit" ? WindowText(child) : StoredText(child);
  Line(std::string(line) + RectText(ScreenRect(child)) + " class=" + cls + " text=" + Utf8(text));
  return TRUE;
}

// Every top-level window of the classes a person meets in this program.
BOOL CALLBACK DescribeTop(HWND window, LPARAM) {
  const std::string cls = ClassOf(window);
  if (cls == "TMainForm" || cls == "TBusyDlg" || cls == "TAboutBox" || cls == "#32770" || cls == "#32768") {
    DescribeWindow("window", window);
  }
  return TRUE;
}

void CommandMain() {
  HWND main = FindWindowA("TMainForm", nullptr);
  if (!main) {
    Line("absent");
    return;
  }
  DescribeWindow("main", main);
  RECT client{};
  GetClientRect(main, &client);
  MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&client), 2);
  Line("client " + RectText(client));

  if (HMENU menu = GetMenu(main)) DescribeMenu("menu", menu, "");

  HWND toolBar = FindWindowExA(main, nullptr, TOOLBARCLASSNAMEA, nullptr);
  HWND list = FindWindowExA(main, nullptr, WC_LISTVIEWA, nullptr);
  HWND status = FindWindowExA(main, nullptr, STATUSCLASSNAMEA, nullptr);

  if (toolBar) {
    TRemoteBlock block(toolBar, sizeof(TBBUTTON) + sizeof(RECT));
    const int count = static_cast<int>(SendMessageA(toolBar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; block.Valid() && i < count; ++i) {
      TBBUTTON button{};
      SendMessageA(toolBar, TB_GETBUTTON, static_cast<WPARAM>(i), block.Param());
      block.Read(0, &button, sizeof button);
      RECT r{};
      SendMessageA(toolBar, TB_GETITEMRECT, static_cast<WPARAM>(i), block.Param(sizeof(TBBUTTON)));
      block.Read(sizeof(TBBUTTON), &r, sizeof r);
      MapWindowPoints(toolBar, nullptr, reinterpret_cast<POINT*>(&r), 2);
      const bool separator = (button.fsStyle & BTNS_SEP) != 0;
      // Asked by command the documented way, beside the state bits of the button itself.
      const bool enabled = !separator && SendMessageA(toolBar, TB_ISBUTTONENABLED, static_cast<WPARAM>(button.idCommand), 0);
      Line("tool " + std::to_string(i) + " " + (separator ? "sep" : enabled ? "enabled" : "disabled") + " rect=" +
           RectText(r));
    }
  }

  if (status) {
    TRemoteBlock block(status, TextCapacity + 1);
    // The status line is in simple mode: its one text area is the simple part. Some
    // status lines answer for it only under index 0, so that is asked when the simple
    // index gives nothing.
    const bool simple = SendMessageA(status, SB_ISSIMPLE, 0, 0) != 0;
    std::string text;
    LRESULT length = 0;
    for (WPARAM part : {static_cast<WPARAM>(SB_SIMPLEID), static_cast<WPARAM>(0)}) {
      length = SendMessageA(status, SB_GETTEXTLENGTHA, part, 0);
      if (!block.Valid() || LOWORD(length) == 0) continue;
      SendMessageA(status, SB_GETTEXTA, part, block.Param());
      text = block.ReadText(0, TextCapacity);
      break;
    }
    Line(std::string("status simple=") + (simple ? "1" : "0") + " length=" + std::to_string(LOWORD(length)) +
         " text=" + Utf8(text));
  }

  if (list) {
    TRemoteBlock block(list, sizeof(LVITEMA) + TextCapacity + 1);
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    const int selected = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    RECT listRect = ScreenRect(list);
    Line("list count=" + std::to_string(count) + " selected=" + std::to_string(selected) + " rect=" + RectText(listRect));
    // A long list is shown by its first entries and its last: every further entry would
    // cost a round trip to the program's busy UI thread.
    constexpr int Shown = 60;
    for (int i = 0; block.Valid() && i < count; i = (i + 1 == Shown && count > Shown + 1) ? count - 1 : i + 1) {
      const std::string caption = ListItemText(list, block, i, 0);
      // The item's icon, where a click selects it.
      RECT r{};
      r.left = LVIR_ICON;
      block.Write(0, &r, sizeof r);
      SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(i), block.Param());
      block.Read(0, &r, sizeof r);
      MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
      LVITEMA lv{};
      lv.mask = LVIF_IMAGE;
      lv.iItem = i;
      block.Write(0, &lv, sizeof lv);
      SendMessageA(list, LVM_GETITEMA, 0, block.Param());
      block.Read(0, &lv, sizeof lv);
      Line("item " + std::to_string(i) + " image=" + std::to_string(lv.iImage) + " rect=" + RectText(r) +
           " caption=" + Utf8(caption));
    }
  }
}

void CommandClass(const char* cls) {
  HWND window = FindWindowA(cls, nullptr);
  if (!window) {
    Line("absent");
    return;
  }
  DescribeWindow("window", window);
  EnumChildWindows(window, DescribeChild, 0);
  if (HWND bar = FindWindowExA(window, nullptr, PROGRESS_CLASSA, nullptr)) {
    // Asked with a short time-out: while a step runs the program answers only after it.
    DWORD_PTR position = 0, maximum = 0;
    if (SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 100, &position) &&
        SendMessageTimeoutA(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 100, &maximum)) {
      Line("progress position=" + std::to_string(static_cast<int>(position)) + " max=" +
           std::to_string(static_cast<int>(maximum)));
    } else {
      Line("progress busy");
    }
  }
}

// Visible dialogs of the common classes: the file dialogs and message boxes.
BOOL CALLBACK DescribeDialog(HWND window, LPARAM) {
  if (ClassOf(window) == "#32770" && IsWindowVisible(window)) {
    DescribeWindow("dialog", window);
    EnumChildWindows(window, DescribeChild, 0);
  }
  return TRUE;
}

BOOL CALLBACK DescribePopup(HWND window, LPARAM) {
  if (ClassOf(window) == "#32768" && IsWindowVisible(window)) {
    DescribeWindow("popup", window);
    if (HMENU menu = reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0))) DescribeMenu("entry", menu, "");
  }
  return TRUE;
}

// Where the program keeps its window placement.
constexpr char kStatusKey[] = "Software\\Quillfen\\Glyphdock\\Status";

void CommandRegistry() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kStatusKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    Line("nokey");
    return;
  }
  for (const char* name : {"Top", "Left", "Width", "Height"}) {
    DWORD type = 0;
    BYTE data[64] = {};
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) {
      Line(std::string("value ") + name + " missing");
    } else if (type == REG_DWORD && size == 4) {
      LONG value = 0;
      std::memcpy(&value, data, 4);
      Line(std::string("value ") + name + " dword " + std::to_string(value));
    } else {
      Line(std::string("value ") + name + " type" + std::to_string(type) + " size" + std::to_string(size));
    }
  }
  RegCloseKey(key);
}

// Stores a placement as an earlier run would have left it ("placement L T W H").
// Written from here, the probe already running in the prefix: a reg.exe started for
// each value is a new Wine process, and under load one such start failed.
void CommandSetPlacement(const std::string& args) {
  long values[4] = {};
  if (std::sscanf(args.c_str(), "%ld %ld %ld %ld", &values[0], &values[1], &values[2], &values[3]) != 4) {
    Line("error usage: placement LEFT TOP WIDTH HEIGHT");
    return;
  }
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, kStatusKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  const char* names[4] = {"Left", "Top", "Width", "Height"};
  for (int i = 0; i < 4 && result == ERROR_SUCCESS; ++i) {
    const DWORD value = static_cast<DWORD>(values[i]);
    result = RegSetValueExA(key, names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  if (key) RegCloseKey(key);
  Line(result == ERROR_SUCCESS ? "ok" : "error " + std::to_string(result));
}

// The clipboard as a pasting program finds it: its formats, and the picture read back
// as a device-independent bitmap, printed row by row from the top as RRGGBB words.
void CommandClipboard() {
  if (!OpenClipboard(nullptr)) {
    Line("busy");
    return;
  }
  std::string formats = "formats";
  for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f)) formats += " " + std::to_string(f);
  Line(formats);
  if (HBITMAP bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP))) {
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    Line("bitmap " + std::to_string(info.bmWidth) + "x" + std::to_string(info.bmHeight) + " bpp=" +
         std::to_string(info.bmBitsPixel));
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = info.bmWidth;
    header.bmiHeader.biHeight = -info.bmHeight;  // top row first
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<std::size_t>(info.bmWidth) * static_cast<std::size_t>(info.bmHeight));
    HDC screen = GetDC(nullptr);
    const int lines = GetDIBits(screen, bitmap, 0, static_cast<UINT>(info.bmHeight), pixels.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    Line("lines " + std::to_string(lines));
    for (int y = 0; y < lines && y < info.bmHeight; ++y) {
      std::string row = "row";
      for (int x = 0; x < info.bmWidth; ++x) {
        char word[8];
        std::snprintf(word, sizeof word, " %06lx", static_cast<unsigned long>(pixels[static_cast<std::size_t>(y) * info.bmWidth + x] & 0xFFFFFF));
        row += word;
      }
      Line(row);
    }
  } else {
    Line("nobitmap");
  }
  CloseClipboard();
}

// Empties the clipboard, so that a later read shows only what was copied after it.
void CommandClipboardClear() {
  if (!OpenClipboard(nullptr)) {
    Line("error open");
    return;
  }
  Line(EmptyClipboard() ? "emptied" : "error empty");
  CloseClipboard();
}

// The platform's short (8.3) form of a full name given in UTF-8, in UTF-8; "none" when
// the file system has none.
void CommandShortName(const std::string& utf8) {
  const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), chars);
  wchar_t shortName[1024] = {};
  const DWORD length = GetShortPathNameW(wide.c_str(), shortName, 1024);
  if (length == 0 || length >= 1024) {
    Line("none");
    return;
  }
  char out[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, shortName, -1, out, sizeof out, nullptr, nullptr);
  Line(std::string("short ") + out);
}

// The user's documents folder as the shell gives it, in UTF-8.
void CommandDocuments() {
  wchar_t path[MAX_PATH] = {};
  using TGetFolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
  HMODULE shell = LoadLibraryA("shell32.dll");
  auto get = shell ? reinterpret_cast<TGetFolderPath>(GetProcAddress(shell, "SHGetFolderPathW")) : nullptr;
  if (get == nullptr || FAILED(get(nullptr, 0x0005 /* CSIDL_PERSONAL */, nullptr, 0, path))) {
    Line("none");
    return;
  }
  char out[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, path, -1, out, sizeof out, nullptr, nullptr);
  Line(std::string("documents ") + out);
}

}  // namespace

int main() {
  char command[2048];
  while (std::fgets(command, sizeof command, stdin)) {
    std::string c = command;
    while (!c.empty() && (c.back() == '\n' || c.back() == '\r')) c.pop_back();
    if (c == "quit") break;
    if (c == "windows") EnumWindows(DescribeTop, 0);
    else if (c == "main") CommandMain();
    else if (c == "busy") CommandClass("TBusyDlg");
    else if (c == "about") CommandClass("TAboutBox");
    else if (c == "dialogs") EnumWindows(DescribeDialog, 0);
    else if (c == "popup") EnumWindows(DescribePopup, 0);
    else if (c == "reg") CommandRegistry();
    else if (c.rfind("placement ", 0) == 0) CommandSetPlacement(c.substr(10));
    else if (c == "clip") CommandClipboard();
    else if (c == "clipclear") CommandClipboardClear();
    else if (c.rfind("short ", 0) == 0) CommandShortName(c.substr(6));
    else if (c == "documents") CommandDocuments();
    else if (c == "screen") Line("screen " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" + std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    else Line("unknown " + c);
    Line(".");
    std::fflush(stdout);
  }
  return 0;
}
