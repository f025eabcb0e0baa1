// Speed of the service against the simulated unit with no answer delay: through the engine
// alone (its port and loop, no window) and through the window, beside a minimal
// write-frame / wait-for-the-answer loop over the same kind of pseudo-terminal. The three are
// interleaved run by run, so that a machine busy with other work slows them alike. Prints
// median, minimum and maximum of each and the ratios of the medians; asserts nothing. Build
// it in Release (scripts/bench.sh).
//
//   service_bench [--runs N]   (default 9)
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "config/config_record.h"
#include "ctl/unit_job.h"
#include "bench/bench_support.h"
#include "service/unit_session.h"
#include "sim/sim_unit.h"
#include "transfer/firmware.h"
#include "transfer/transfer_core.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using bench::Clock;
using namespace std::chrono_literals;

namespace {

using bench::Ms;
using bench::Of;
using bench::QuietObserver;
using bench::Spread;

// ---- The minimal loop: a raw file descriptor, one frame out, one answer in ----------------

class RawLine {
 public:
  explicit RawLine(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~RawLine() { ::close(fd_); }
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;

  void Write(const std::vector<std::uint8_t>& bytes) {
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("short write");
  }

  // Reads one whole frame from the unit (its length field says how much).
  std::vector<std::uint8_t> ReadFrame() {
    std::vector<std::uint8_t> frame;
    std::size_t want = FrameOverhead;
    while (frame.size() < want) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) throw std::runtime_error("no answer");
      std::uint8_t buffer[1100];
      const ssize_t n = ::read(fd_, buffer, std::min<std::size_t>(sizeof buffer, want - frame.size()));
      if (n <= 0) throw std::runtime_error("read failed");
      frame.insert(frame.end(), buffer, buffer + n);
      if (frame.size() >= 5) want = FrameOverhead + (frame[3] << 8 | frame[4]);
    }
    return frame;
  }

 private:
  int fd_ = -1;
};

struct Unit {
  explicit Unit(SimOptions options) : sim(std::move(options)) { sim.Start(); }
  SimUnit sim;
};

// Sends a whole block transfer frame by frame, each after the previous one's answer.
double MinimalTransfer(std::uint8_t kind, std::span<const std::uint8_t> data) {
  Unit unit{{}};
  RawLine line(unit.sim.DevicePath());
  if (!unit.sim.WaitForConnected(true, 2s)) throw std::runtime_error("unit did not see the line");
  TransferState s;
  s.Kind = kind;
  s.Data = data;
  s.Length = static_cast<std::uint32_t>(data.size());
  s.Trailer = MakeTrailer(data);
  s.BlockCount = TransferBlockCount(s.Length);
  s.Token = 0x1234;
  const auto t0 = Clock::now();
  for (std::uint32_t i = 1; i <= s.BlockCount; ++i) {
    line.Write(BuildFrame(kind, BlockFramePayload(s, i)));
    for (;;) {
      const auto answer = line.ReadFrame();
      if (answer[2] == CmdAck) break;  // announcements before it are skipped
      if (answer[2] == CmdRefusal) throw std::runtime_error("refused");
    }
  }
  return Ms(Clock::now() - t0);
}

double MinimalRead() {
  Unit unit{{}};
  RawLine line(unit.sim.DevicePath());
  if (!unit.sim.WaitForConnected(true, 2s)) throw std::runtime_error("unit did not see the line");
  const std::uint32_t base = unit.sim.Info().ConfigBaseAddress;
  const auto t0 = Clock::now();
  ConfigImage image{};
  for (std::uint32_t i = 1; i <= ReadBlockCount; ++i) {
    const ConfigReadRequest r = ReadRequestFor(i, base);
    line.Write(BuildFrame(CmdConfigRead, ConfigReadRequestPayload(r.address, r.count)));
    for (;;) {
      const auto answer = line.ReadFrame();
      const CheckedFrame f = CheckFrame(answer);
      if (f.outcome != FrameOutcome::Accepted || f.command != CmdConfigRead) continue;
      if (auto data = ParseConfigData(f.payload)) (void)PlaceConfigData(image, base, *data);
      break;
    }
  }
  (void)DecodeConfigImage(image, false);
  return Ms(Clock::now() - t0);
}

// ---- The engine alone: its port and its loop, no window -----------------------------------

// Times between log lines of a session, as they appear.
class SessionClock final : public SessionListener {
 public:
  void Log(std::string_view line) override { times_.push_back({std::string(line), Clock::now()}); }
  std::optional<Clock::time_point> When(std::string_view line) const {
    for (const auto& [text, at] : times_)
      if (text == line) return at;
    return std::nullopt;
  }
  void Clear() { times_.clear(); }

 private:
  std::vector<std::pair<std::string, Clock::time_point>> times_;
};

struct EngineRun {
  std::unique_ptr<Unit> unit;
  SessionClock log;
  std::unique_ptr<UnitSession> session;

  explicit EngineRun(SimOptions options) {
    options.restartDelay = 50ms;
    unit = std::make_unique<Unit>(std::move(options));
    session = std::make_unique<UnitSession>(unit->sim.DevicePath(), log);
    session->Open();
  }
  void WaitFor(std::string_view line) {
    if (!session->RunUntil([&] { return log.When(line).has_value(); }, Clock::now() + 60s))
      throw std::runtime_error("the engine did not reach: " + std::string(line));
  }
  double Between(std::string_view from, std::string_view to) {
    WaitFor(to);
    return Ms(*log.When(to) - *log.When(from));
  }
  void Write() {
    log.Clear();
    session->Engine().WriteConfig(DefaultConfig());
  }
};

// ---- Several units at once, as zpictl serves them ------------------------------------------

// The whole service of `count` units, each on its own thread: firmware upload, restart,
// read, the invalid configuration replaced, written and read back. From the start of the
// jobs to the end of the last one.
double ServiceOf(int count) {
  std::vector<std::unique_ptr<Unit>> units;
  for (int i = 0; i < count; ++i) units.push_back(std::make_unique<Unit>(bench::WholeServiceUnit(0)));
  QuietObserver observer;
  std::vector<std::unique_ptr<UnitJob>> jobs;
  for (const auto& unit : units) {
    JobRequest request;
    request.command = JobCommand::Service;
    request.port = unit->sim.DevicePath();
    jobs.push_back(std::make_unique<UnitJob>(request, observer));
  }
  const auto t0 = Clock::now();
  std::vector<std::thread> threads;
  std::vector<JobResult> results(jobs.size());
  for (std::size_t i = 0; i < jobs.size(); ++i) threads.emplace_back([&, i] { results[i] = jobs[i]->Run(); });
  for (std::thread& thread : threads) thread.join();
  const double ms = Ms(Clock::now() - t0);
  for (const JobResult& r : results)
    if (!r.ok) throw std::runtime_error(r.port + ": " + r.error);
  return ms;
}

// ---- The tool ----------------------------------------------------------------------------

// Times between log lines of a window, as they appear.
class LogClock {
 public:
  explicit LogClock(TForm1& form) : form_(form) {
    QObject::connect(form.Log, &QTextEdit::textChanged, form.Log, [this] {
      const QStringList lines = form_.Log->Lines();
      if (lines.size() < seen_) seen_ = 0;
      for (; seen_ < lines.size(); ++seen_) times_.push_back({lines[seen_], Clock::now()});
    });
  }
  // When `line` appeared for the `nth` time (from 1).
  std::optional<Clock::time_point> When(const QString& line, int nth = 1) const {
    int found = 0;
    for (const auto& [text, at] : times_)
      if (text == line && ++found == nth) return at;
    return std::nullopt;
  }
  void Clear() {
    times_.clear();
    seen_ = 0;
  }

 private:
  TForm1& form_;
  int seen_ = 0;
  std::vector<std::pair<QString, Clock::time_point>> times_;
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() > end) return false;
    QEventLoop loop;
    QTimer::singleShot(1, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

struct ToolRun {
  std::unique_ptr<Unit> unit;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<LogClock> log;

  explicit ToolRun(SimOptions options) {
    options.restartDelay = 50ms;
    unit = std::make_unique<Unit>(std::move(options));
    qputenv("ZPITOOL_EXTRA_PORTS", QByteArray::fromStdString(unit->sim.DevicePath()));
    form = std::make_unique<TForm1>();
    form->Timer4->stop();
    form->show();
    log = std::make_unique<LogClock>(*form);
    form->ComboBox1DropDown();
    form->ComboBox1->setCurrentIndex(form->ComboBox1->findText(QString::fromStdString(unit->sim.DevicePath())));
    form->ButtonVCP->click();
    if (!form->VCP.Connected()) throw std::runtime_error("the tool cannot open the unit's port");
  }
  ~ToolRun() {
    form.reset();
    unit.reset();
  }
  void WaitFor(const QString& line) {
    if (!::WaitFor([&] { return log->When(line).has_value(); }, 60s))
      throw std::runtime_error("the tool did not reach: " + line.toStdString());
  }
  double Between(const QString& from, const QString& to) {
    WaitFor(to);
    return Ms(*log->When(to) - *log->When(from));
  }
  void Write() {
    log->Clear();
    form->B_SetConfig->click();
  }
};

// The same three services through the engine alone (EngineRun) or the window (ToolRun).
template <class Run>
double Upload() {
  SimOptions options;
  options.firmwareMinor = 45;
  Run run(options);
  return run.Between("Iniciando atualização...", "Atualização concluída com sucesso!");
}

template <class Run>
double Read() {
  Run run({});
  return run.Between("Buscando configuração interna...", "Leitura da configuração interna concluída!");
}

template <class Run>
double Write() {
  Run run({});
  run.WaitFor("Leitura da configuração interna concluída!");
  run.Write();
  return run.Between("Iniciando atualização...", "Atualização concluída com sucesso!");
}

double ToolStartUp() {
  const auto t0 = Clock::now();
  TForm1 form;
  form.Timer4->stop();
  form.show();
  QCoreApplication::processEvents();
  return Ms(Clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  TApplication app(argc, argv);
  int runs = 9;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  SetMessageBoxHook([](const MessageBoxCall& box) {
    std::fprintf(stderr, "unexpected box: %s\n", qPrintable(box.text));
    return MsgResult::Ok;
  });

  const auto image = FirmwareImage();
  const ConfigImage config = EncodeConfigImage(DefaultConfig()).image;
  struct Row {
    const char* what;
    std::function<double()> minimal, engine, window;
  };
  const Row rows[] = {
      {"firmware upload (1888 frames)", [&] { return MinimalTransfer(TransferFirmware, image); },
       Upload<EngineRun>, Upload<ToolRun>},
      {"configuration read (5 requests)", MinimalRead, Read<EngineRun>, Read<ToolRun>},
      {"configuration write (44 frames)", [&] { return MinimalTransfer(TransferConfig, config); },
       Write<EngineRun>, Write<ToolRun>},
  };
  std::printf("ms: median [min-max] of %d runs, interleaved; ratio: median over the minimal loop's median\n\n", runs);
  std::printf("%-33s %-22s %-22s %-7s %-22s %s\n", "", "minimal loop", "engine alone", "ratio", "window", "ratio");
  const auto cell = [](const Spread& s) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f [%.1f-%.1f]", s.median, s.minimum, s.maximum);
    return std::string(text);
  };
  for (const Row& row : rows) {
    std::vector<double> minimal, engine, window;
    for (int i = 0; i < runs; ++i) {
      minimal.push_back(row.minimal());
      engine.push_back(row.engine());
      window.push_back(row.window());
    }
    const Spread m = Of(minimal), e = Of(engine), w = Of(window);
    char engineRatio[16], windowRatio[16];
    std::snprintf(engineRatio, sizeof engineRatio, "%.2fx", m.median > 0 ? e.median / m.median : 0);
    std::snprintf(windowRatio, sizeof windowRatio, "%.2fx", m.median > 0 ? w.median / m.median : 0);
    std::printf("%-33s %-22s %-22s %-7s %-22s %s\n", row.what, cell(m).c_str(), cell(e).c_str(), engineRatio,
                cell(w).c_str(), windowRatio);
  }
  // Four units served in parallel beside one alone.
  std::vector<double> one, four;
  for (int i = 0; i < runs; ++i) {
    one.push_back(ServiceOf(1));
    four.push_back(ServiceOf(4));
  }
  const Spread o = Of(one), f = Of(four);
  char parallelRatio[16];
  std::snprintf(parallelRatio, sizeof parallelRatio, "%.2fx", o.median > 0 ? f.median / o.median : 0);
  std::printf("\n%-33s %-22s %-22s %s\n", "whole service (upload, read, write,", "one unit", "four in parallel",
              "ratio");
  std::printf("%-33s %-22s %-22s %s\n", "verify), engine and port, no window", cell(o).c_str(), cell(f).c_str(),
              parallelRatio);

  std::vector<double> startUp;
  for (int i = 0; i < runs; ++i) startUp.push_back(ToolStartUp());
  std::printf("%-33s %s\n", "start-up to a shown window", cell(Of(startUp)).c_str());
  return 0;
}
