// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up to the main window shown, beside a bare QMainWindow program, and
// the summary refresh with every editor created.
//
// Each start-up is a whole process (library loading, QApplication, splash,
// main window load with the start-up read of the emulated chip) timed from
// spawn to exit: startup_probe is the application's entry with the splash
// closed at once, ending as soon as its main window is exposed.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/auto_seam.h"
#include "gui/refresh.h"
#include "gui/seam.h"
#include "gui/windows.h"
#include "shell/frmMain.h"
#include "shell/startup.h"

extern char** environ;

namespace {

AutoSeam autoSeam;
double g_appMs = 0, g_plainMs = 0;  // medians of the last run, for the summary line

void WaitExposed(QWidget* w) {
  QElapsedTimer t;
  t.start();
  while (!(w->windowHandle() && w->windowHandle()->isExposed()) && t.elapsed() < 10000)
    QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Runs the program to its end; returns the wall time in milliseconds.
double RunProcess(const std::string& path, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const auto t1 = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Alternates the two programs so both see the same machine load.
void BM_StartupToMainWindowShown(benchmark::State& state) {
  const std::string self = ZK7_STARTUP_PROBE;
  const std::string bare = ZK7_BARE_MAINWINDOW;
  std::vector<double> app, plain;
  for (auto _ : state) {
    app.clear();
    plain.clear();
    RunProcess(self, {});  // warm the caches
    RunProcess(bare, {});
    for (int k = 0; k < 31; ++k) {
      const double a = RunProcess(self, {});
      const double b = RunProcess(bare, {});
      if (a < 0 || b < 0) {
        state.SkipWithError("a start-up child failed");
        return;
      }
      app.push_back(a);
      plain.push_back(b);
    }
    state.SetIterationTime(Median(app) / 1000.0);
  }
  state.counters["app_median_ms"] = Median(app);
  state.counters["bare_median_ms"] = Median(plain);
  state.counters["ratio"] = Median(app) / Median(plain);
  g_appMs = Median(app);
  g_plainMs = Median(plain);
}
BENCHMARK(BM_StartupToMainWindowShown)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_RefreshAllAllEditorsCreated(benchmark::State& state) {
  static frmMain* w = nullptr;
  if (!w) {
    Seam::set(&autoSeam);
    w = StartApplication();
    WaitExposed(w);
    // Every editor exists, also those the refresh does not create itself.
    for (WindowId id : {WindowId::GPIO, WindowId::CAN, WindowId::AtoD, WindowId::PWM1,
                        WindowId::PWM2, WindowId::PWMSlider, WindowId::DCSlider, WindowId::STCON,
                        WindowId::UserReg, WindowId::MemoryMap})
      Windows::instance().get(id);
  }
  for (auto _ : state) RefreshAll();
}
BENCHMARK(BM_RefreshAllAllEditorsCreated)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  // The start-up runs on the emulated chip, chosen explicitly; without a
  // display the offscreen platform is used.
  setenv("ZK7_PORT", "emulator", 0);
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_plainMs > 0)
    std::printf(
        "start-up to the main window %.1f ms, plain window %.1f ms: %.2f x (goal <= 1.25 x)\n",
        g_appMs, g_plainMs, g_appMs / g_plainMs);
  Windows::instance().destroyAll();
  return 0;
}
