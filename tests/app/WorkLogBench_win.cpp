// Benchmark, not a test: how long the main window takes to build, and what
// one work-log line costs as the log grows (an append must not get slower
// with the size of the log, or a long session would crawl).
//   wine app_worklog_bench.exe [lines]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/MainForm.h"
#include "ui/Application.h"

using namespace tarnwick;

namespace {
double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 20000;
  Application().Initialize();

  const int forms = 20;
  double start = NowMs();
  for (int i = 0; i < forms; ++i) {
    auto* form = Application().CreateForm<TForm1>();
    form->Show();
    Application().ProcessMessages();
    delete form;
  }
  std::printf("main window create+show+destroy: %.2f ms each (%d rounds)\n", (NowMs() - start) / forms, forms);

  auto* form = Application().CreateForm<TForm1>();
  form->Show();
  const std::wstring line = L"接続先（IPアドレス）：192.0.2.1 / ホスト上のファイル名：config-0123456789";
  const int step = lines / 5 > 0 ? lines / 5 : 1;
  start = NowMs();
  double stepStart = start;
  for (int i = 1; i <= lines; ++i) {
    form->Log->AppendLine(line);
    if (i % step == 0) {
      double now = NowMs();
      std::printf("log lines %6d..%6d: %.3f ms per 1000 lines (log %zu chars)\n", i - step + 1, i,
                  (now - stepStart) * 1000.0 / step, static_cast<std::size_t>(::GetWindowTextLengthW(form->Log->Handle())));
      stepStart = now;
    }
  }
  std::printf("total %d lines: %.1f ms\n", lines, NowMs() - start);
  delete form;
  return 0;
}
