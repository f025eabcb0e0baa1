#include "support/service_fixture.h"

// Qt
#include <QComboBox>

using namespace std::chrono_literals;

std::vector<SimFrame> FramesWith(const SimUnit& unit, std::uint8_t command) {
  std::vector<SimFrame> out;
  for (const SimFrame& f : unit.Frames())
    if (f.command == command) out.push_back(f);
  return out;
}

BlockPayload Block(const SimFrame& frame) { return ParseBlockPayload(frame.Payload()).value_or(BlockPayload{}); }

void ServiceTest::TearDown() {
  WindowTest::TearDown();
  ports.reset();
  unit.reset();
}

void ServiceTest::StartUnit(SimOptions options) {
  options.announcePeriod = 200ms;
  options.restartDelay = 50ms;
  ports.reset();
  unit.reset();
  unit = std::make_unique<SimUnit>(std::move(options));
  unit->Start();
  ports = std::make_unique<ScopedExtraPorts>(QStringList{QString::fromStdString(unit->DevicePath())});
}

void ServiceTest::Connect() {
  form->ComboBox1DropDown();
  const int entry = form->ComboBox1->findText(QString::fromStdString(unit->DevicePath()));
  ASSERT_GE(entry, 0);
  form->ComboBox1->setCurrentIndex(entry);
  form->ButtonVCP->click();
  ASSERT_TRUE(form->VCP.Connected());
}

void ServiceTest::Disconnect() {
  if (form->VCP.Connected()) form->ButtonVCP->click();
  ASSERT_FALSE(form->VCP.Connected());
}

bool ServiceTest::WaitForLog(const QString& line, std::chrono::milliseconds timeout, int times) {
  return WaitUntil([&] { return LogLines(*form).count(line) >= times; }, timeout);
}

void ServiceTest::Settle() {
  QStringList last = LogLines(*form);
  auto since = std::chrono::steady_clock::now();
  (void)WaitUntil(
      [&] {
        const QStringList now = LogLines(*form);
        if (now != last) {
          last = now;
          since = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - since > 200ms && !form->Timer1->isActive() &&
               !form->Timer3->isActive();
      },
      5s);
}

std::string ServiceTest::Diagnose() const {
  std::string out = "log:\n" + LogLines(*form).join("\n").toStdString() + "\nunit:\n";
  if (unit) {
    const auto log = unit->Log();
    for (std::size_t i = log.size() > 15 ? log.size() - 15 : 0; i < log.size(); ++i) out += log[i] + "\n";
  }
  out += "index " + std::to_string(form->Engine().Transfer().Index) + " of " + std::to_string(form->Engine().Transfer().BlockCount) +
         ", silent ticks " + std::to_string(form->Engine().Transfer().SilentTicks) + ", last ack " +
         std::to_string(form->Engine().Transfer().LastAckIndex);
  return out;
}
