// wgettext: reads the program's windows from outside, for the end-to-end
// scripts that drive it with xdotool. Every command finds a top-level window
// by its exact title and answers on stdout in UTF-8; the exit status says
// whether the answer could be had, so scripts poll a command until it
// succeeds or their own deadline passes.
//
//   wgettext text    <title> <id>   text of the control (0: the window itself)
//   wgettext checked <title> <id>   "1" when the check box is ticked, else "0"
//   wgettext center  <title> <id>   "x y": screen centre of the control
//   wgettext rect    <title> <id>   "WxH+X+Y": the control's screen rectangle
//   wgettext visible <title>        status 0 when such a window is visible
//   wgettext count   <title>        number of top-level windows so titled,
//                                   hidden ones included
//   wgettext owned   <title>        number of top-level windows of the
//                                   process that owns the titled window
//   wgettext find    <text>         title of a visible top-level window in
//                                   which some control's text contains <text>
//
// Exit status: 0 answered, 1 false/not present, 2 usage, 3 window or control
// missing, 4 the window did not answer in time (its thread is busy).
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr UINT kAnswerMs = 3000;

void Write(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    if (!WriteFile(out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
        written == 0)
      return;
    done += written;
  }
}

// Reads a text through the window's own thread with a bounded wait, so a
// window busy inside a transfer gives status 4 instead of hanging the script.
bool ReadText(HWND wnd, std::wstring& text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerMs, &length))
    return false;
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(wnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerMs, &copied))
    return false;
  text.assign(buffer.data(), copied < length ? copied : length);
  return true;
}

struct ChildSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND wnd, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  if (GetDlgCtrlID(wnd) != search->id) return TRUE;
  search->found = wnd;
  return FALSE;
}

// Controls sit inside panels and group boxes, so the id is looked for among
// all descendants, not only the direct children.
HWND FindControl(HWND top, int id) {
  if (id == 0) return top;
  ChildSearch search{id, nullptr};
  EnumChildWindows(top, MatchId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct TitleCount {
  const wchar_t* title;
  DWORD pid;
  int count;
};

BOOL CALLBACK CountTitled(HWND wnd, LPARAM param) {
  auto* c = reinterpret_cast<TitleCount*>(param);
  wchar_t buffer[512];
  // Local read: these are top-level windows and GetWindowTextW does not
  // wait for a window of another process.
  if (GetWindowTextW(wnd, buffer, 512) > 0 && wcscmp(buffer, c->title) == 0) ++c->count;
  return TRUE;
}

BOOL CALLBACK CountOwned(HWND wnd, LPARAM param) {
  auto* c = reinterpret_cast<TitleCount*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (pid == c->pid) ++c->count;
  return TRUE;
}

struct TextSearch {
  const wchar_t* needle;
  bool found;
};

BOOL CALLBACK ChildHasText(HWND wnd, LPARAM param) {
  auto* s = reinterpret_cast<TextSearch*>(param);
  std::wstring text;
  if (ReadText(wnd, text) && text.find(s->needle) != std::wstring::npos) {
    s->found = true;
    return FALSE;
  }
  return TRUE;
}

struct TopSearch {
  const wchar_t* needle;
  bool found;
  std::wstring title;
};

BOOL CALLBACK TopHasText(HWND wnd, LPARAM param) {
  auto* s = reinterpret_cast<TopSearch*>(param);
  if (!IsWindowVisible(wnd)) return TRUE;
  std::wstring title;
  if (!ReadText(wnd, title)) return TRUE;
  TextSearch inner{s->needle, title.find(s->needle) != std::wstring::npos};
  if (!inner.found) EnumChildWindows(wnd, ChildHasText, reinterpret_cast<LPARAM>(&inner));
  if (!inner.found) return TRUE;
  s->found = true;
  s->title = title;
  return FALSE;
}

int ParseId(const wchar_t* text, int& id) {
  wchar_t* end = nullptr;
  long value = wcstol(text, &end, 10);
  if (end == text || *end != L'\0' || value < 0 || value > 0xFFFF) return 2;
  id = static_cast<int>(value);
  return 0;
}

int Usage() {
  Write(
      L"usage: wgettext text|checked|center|rect <title> <id> | visible|count|owned <title> | find <text>\n");
  return 2;
}

int RunControlCommand(const std::wstring& command, const wchar_t* title, const wchar_t* idText) {
  int id = 0;
  if (ParseId(idText, id) != 0) return Usage();
  HWND top = FindWindowW(nullptr, title);
  if (top == nullptr) return 3;
  HWND control = FindControl(top, id);
  if (control == nullptr) return 3;
  if (command == L"text") {
    std::wstring text;
    if (!ReadText(control, text)) return 4;
    Write(text);
    return 0;
  }
  if (command == L"checked") {
    DWORD_PTR state = 0;
    if (!SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerMs, &state))
      return 4;
    Write(state == BST_CHECKED ? L"1\n" : L"0\n");
    return 0;
  }
  RECT r;
  if (!GetWindowRect(control, &r)) return 3;
  if (command == L"rect") {
    Write(std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top) + L"+" +
          std::to_wstring(r.left) + L"+" + std::to_wstring(r.top) + L"\n");
    return 0;
  }
  Write(std::to_wstring((r.left + r.right) / 2) + L" " + std::to_wstring((r.top + r.bottom) / 2) + L"\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[1];
  if (command == L"text" || command == L"checked" || command == L"center" || command == L"rect") {
    if (argc != 4) return Usage();
    return RunControlCommand(command, argv[2], argv[3]);
  }
  if (argc != 3) return Usage();
  if (command == L"visible") {
    HWND top = FindWindowW(nullptr, argv[2]);
    return top != nullptr && IsWindowVisible(top) ? 0 : 1;
  }
  if (command == L"count") {
    TitleCount c{argv[2], 0, 0};
    EnumWindows(CountTitled, reinterpret_cast<LPARAM>(&c));
    Write(std::to_wstring(c.count) + L"\n");
    return 0;
  }
  if (command == L"owned") {
    HWND top = FindWindowW(nullptr, argv[2]);
    if (top == nullptr) return 3;
    TitleCount c{nullptr, 0, 0};
    GetWindowThreadProcessId(top, &c.pid);
    EnumWindows(CountOwned, reinterpret_cast<LPARAM>(&c));
    Write(std::to_wstring(c.count) + L"\n");
    return 0;
  }
  if (command == L"find") {
    TopSearch s{argv[2], false, {}};
    EnumWindows(TopHasText, reinterpret_cast<LPARAM>(&s));
    if (!s.found) return 1;
    Write(s.title + L"\n");
    return 0;
  }
  return Usage();
}
