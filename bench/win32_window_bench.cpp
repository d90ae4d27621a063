// The Win32 window under load, as the program runs it (its own loop, its own
// change source), with a heartbeat: a thread posts a message to a window of
// the loop's thread every 5 ms, and how late each is handled is how long the
// window could not answer. A second heartbeat to a bare message loop on a
// thread of its own is the baseline: what the machine and Wine alone cost.
//
//   win32_window_bench burst [--files N]
//     win32_burst files=N listed=L copied=C missing=M seconds=S max_held_ms=H p99_held_ms=P bare_max_ms=B bare_p99_ms=Q
//   win32_window_bench rows [--rows N]
//     win32_rows rows=N bytes_per_row=B seconds=S max_held_ms=H p99_held_ms=P bare_max_ms=B bare_p99_ms=Q
//
// burst: a copy rule on a folder in which another thread makes N small
// files; done when every copy is listed (or nothing moved for a minute).
// rows: N changes of distinct paths, whole-disk mode, through a scripted
// source; bytes_per_row is the resident memory the list adds per row.
#include "faces/win32/MainWindow.h"
#include "monitor/ScriptedSource.h"
#include "monitor/windows/DirectoryChangesSource.h"
#include "platform/Utf8Path.h"
#include "platform/windows/Wide.h"
#include "text/AtomicFile.h"
#include "text/Codec.h"
#include "text/PathRoutines.h"

#include "TestDir.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

using namespace vantrel;
using namespace vantrel::win32;
using Steady = std::chrono::steady_clock;

namespace {

double Since(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

// The heartbeat's receiving end: a message-only window of the loop's thread.
struct Heartbeat {
  static constexpr UINT kBeat = WM_APP + 7;
  HWND window = nullptr;
  std::atomic<bool> stop{false};
  std::thread beater;
  std::mutex mutex;
  std::vector<Steady::time_point> posted;
  std::vector<double> lateMs;

  static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kBeat) {
      auto* self = reinterpret_cast<Heartbeat*>(::GetWindowLongPtrW(w, GWLP_USERDATA));
      std::lock_guard lock(self->mutex);
      self->lateMs.push_back(std::chrono::duration<double, std::milli>(Steady::now() - self->posted[wParam]).count());
      return 0;
    }
    return ::DefWindowProcW(w, message, wParam, lParam);
  }
  std::thread bare;
  void MakeWindow() {
    WNDCLASSW type{};
    type.lpfnWndProc = Proc;
    type.hInstance = ::GetModuleHandleW(nullptr);
    type.lpszClassName = L"VantrelHeartbeat";
    ::RegisterClassW(&type);
    window = ::CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, type.hInstance, nullptr);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  // onOwnThread: the baseline, a bare message loop on a thread of its own
  // that meets the same machine (the same load, the same Wine) and nothing else.
  void Start(bool onOwnThread = false) {
    if (onOwnThread) {
      std::atomic<bool> made{false};
      bare = std::thread([this, &made] {
        MakeWindow();
        made = true;
        MSG m;
        while (::GetMessageW(&m, nullptr, 0, 0) > 0) ::DispatchMessageW(&m);
      });
      while (!made) std::this_thread::yield();
    } else {
      MakeWindow();
    }
    posted.reserve(1 << 20);
    beater = std::thread([this] {
      while (!stop) {
        std::size_t n;
        {
          std::lock_guard lock(mutex);
          n = posted.size();
          if (n + 1 >= posted.capacity()) return;
          posted.push_back(Steady::now());
        }
        ::PostMessageW(window, kBeat, n, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  void Stop() {
    stop = true;
    beater.join();
    if (bare.joinable()) {
      ::PostMessageW(window, WM_QUIT, 0, 0);
      bare.join();
    }
  }
  std::pair<double, double> MaxAndP99() {
    std::lock_guard lock(mutex);
    if (lateMs.empty()) return {0, 0};
    std::vector<double> sorted = lateMs;
    std::sort(sorted.begin(), sorted.end());
    return {sorted.back(), sorted[sorted.size() * 99 / 100]};
  }
};

std::size_t CountRows(const EventList& rows, std::string_view type) {
  std::size_t n = 0;
  for (std::size_t r = 0; r < rows.RowCount(); ++r)
    if (rows.Cell(r, 2) == type) ++n;
  return n;
}

// The resident memory, as Linux's figure is (Wine leaves the private
// usage at zero).
std::size_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

int Burst(int files) {
  TestDir home, tree;
  const std::string in = CleanPath(JoinPath(tree.Path(), "in")), out = CleanPath(JoinPath(tree.Path(), "out"));
  std::filesystem::create_directories(PathFromUtf8(in));
  std::filesystem::create_directories(PathFromUtf8(out));
  WriteFileAtomically(JoinPath(home.Path(), "config.ini"),
                      Utf8ToGb18030("[监控设置]\r\n全盘监控=假\r\n自定义路径=真\r\n"));
  MainWindow::Options options;
  options.home = home.Path();
  MainWindow window(std::move(options));
  if (!window.Create(SW_SHOWNOACTIVATE)) return 1;
  window.Core().Rules().Add("新建文件", in, "【复制文件】" + out);
  // The rule's folder is watched once the source has taken it up.
  auto* watching = dynamic_cast<DirectoryChangesSource*>(window.Core().Source());
  for (auto t = Steady::now(); Since(t) < 10 && watching && watching->RootSetsApplied() < 2;) window.Turn(20);
  if (std::getenv("BENCH_VERBOSE"))
    std::fprintf(stderr, "roots applied %llu\n", watching ? static_cast<unsigned long long>(watching->RootSetsApplied()) : 0ull);
  Heartbeat heart, baseline;
  heart.Start();
  baseline.Start(true);
  const auto start = Steady::now();
  std::thread maker([&] {
    for (int i = 0; i < files; ++i) {
      const std::wstring path = platform::WideFromUtf8(JoinPath(in, "f" + std::to_string(i) + ".txt"));
      HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      DWORD n = 0;
      ::WriteFile(h, path.data(), 16, &n, nullptr);
      ::CloseHandle(h);
    }
  });
  std::size_t copied = 0, last = 0;
  double lastMove = 0, seconds = 0;
  auto lastCount = Steady::now();
  while (copied < static_cast<std::size_t>(files)) {
    window.Turn(20);
    if (Since(lastCount) < 0.2) continue;
    lastCount = Steady::now();
    copied = CountRows(window.Core().Events(), "复制文件");
    if (std::getenv("BENCH_VERBOSE"))
      std::fprintf(stderr, "%.1f s: %zu rows, %zu copies\n", Since(start), window.Core().Events().RowCount(), copied);
    if (copied != last) {
      last = copied;
      lastMove = Since(start);
      seconds = lastMove;
    } else if (Since(start) - lastMove > 60) {
      break;
    }
  }
  maker.join();
  heart.Stop();
  baseline.Stop();
  const std::size_t listed = CountRows(window.Core().Events(), "新建文件");
  std::size_t inOut = 0;
  for (const auto& e : std::filesystem::directory_iterator(PathFromUtf8(out))) inOut += e.is_regular_file();
  const auto [maxHeld, p99] = heart.MaxAndP99();
  const auto [bareMax, bareP99] = baseline.MaxAndP99();
  if (std::getenv("BENCH_VERBOSE")) std::fprintf(stderr, "balloons %lu\n", window.Tray().PromptsShown());
  std::printf("win32_burst files=%d listed=%zu copied=%zu missing=%zu seconds=%.1f max_held_ms=%.1f p99_held_ms=%.1f "
              "bare_max_ms=%.1f bare_p99_ms=%.1f\n",
              files, listed, inOut, static_cast<std::size_t>(files) - std::min<std::size_t>(inOut, files), seconds, maxHeld,
              p99, bareMax, bareP99);
  window.QuitProgram();
  return listed == static_cast<std::size_t>(files) && inOut == static_cast<std::size_t>(files) ? 0 : 1;
}

int Rows(long rows, double rate) {
  TestDir home;
  WriteFileAtomically(JoinPath(home.Path(), "config.ini"),
                      Utf8ToGb18030("[监控设置]\r\n全盘监控=真\r\n自定义路径=假\r\n"));
  ScriptedSource* source = nullptr;
  MainWindow::Options options;
  options.home = home.Path();
  options.sourceFactory = ScriptedSourceFactory(source);
  MainWindow window(std::move(options));
  if (!window.Create(SW_SHOWNOACTIVATE)) return 1;
  for (auto t = Steady::now(); Since(t) < 0.5;) window.Turn(20);
  Heartbeat heart, baseline;
  heart.Start();
  baseline.Start(true);
  const std::size_t before = ResidentBytes();
  const auto start = Steady::now();
  constexpr long kBatch = 10000;
  for (long from = 0; from < rows; from += kBatch) {
    std::vector<ChangeNotification> batch;
    for (long i = from; i < std::min(rows, from + kBatch); ++i)
      batch.push_back({SHCNE_CREATE,
                       "C:\\Users\\user\\projects\\data\\batch" + std::to_string(i / 1000) + "\\report-" + std::to_string(i) + ".txt",
                       std::nullopt, 0});
    source->Inject(std::move(batch));
    if (std::getenv("BENCH_VERBOSE") && from % 200000 == 0)
      std::fprintf(stderr, "%ld injected, %zu listed, resident %.1f MB\n", from, window.Core().Events().RowCount(),
                   ResidentBytes() / 1048576.0);
    // As fast as the window takes them, never more than a batch ahead (or
    // at the rate asked).
    while (window.Core().Events().RowCount() < static_cast<std::size_t>(from) ||
           (rate > 0 && Since(start) < static_cast<double>(from) / rate))
      window.Turn(5);
  }
  while (window.Core().Events().RowCount() < static_cast<std::size_t>(rows) && Since(start) < 600) window.Turn(5);
  const double seconds = Since(start);
  for (auto t = Steady::now(); Since(t) < 0.5;) window.Turn(20);
  heart.Stop();
  baseline.Stop();
  const std::size_t after = ResidentBytes(), listed = window.Core().Events().RowCount();
  const auto [maxHeld, p99] = heart.MaxAndP99();
  const auto [bareMax, bareP99] = baseline.MaxAndP99();
  if (std::getenv("BENCH_VERBOSE"))
    std::fprintf(stderr, "resident before %.1f MB after %.1f MB\n", before / 1048576.0, after / 1048576.0);
  std::printf("win32_rows rows=%zu bytes_per_row=%.1f seconds=%.1f max_held_ms=%.1f p99_held_ms=%.1f bare_max_ms=%.1f "
              "bare_p99_ms=%.1f\n",
              listed, static_cast<double>(after - before) / static_cast<double>(std::max<std::size_t>(listed, 1)), seconds,
              maxHeld, p99, bareMax, bareP99);
  window.QuitProgram();
  return listed == static_cast<std::size_t>(rows) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  long count = 0;
  for (int i = 2; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--files") == 0 || std::strcmp(argv[i], "--rows") == 0) count = std::atol(argv[i + 1]);
  if (mode == "burst") return Burst(count > 0 ? static_cast<int>(count) : 20000);
  const char* rate = std::getenv("BENCH_RATE");
  if (mode == "rows") return Rows(count > 0 ? count : 1000000, rate ? std::atof(rate) : 0);
  std::fprintf(stderr, "usage: win32_window_bench burst [--files N] | rows [--rows N]\n");
  return 2;
}
