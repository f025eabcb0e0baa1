#include "app/window_front_end.h"

// lib
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "protocol/service_rules.h"

// Qt
#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace {

QTimer* TimerOf(TForm1& form, Pacer pacer) { return pacer == Pacer::Transfer ? form.Timer1 : form.Timer3; }

}  // namespace

bool TWindowFrontEnd::PortOpen() { return form_.VCP.Connected(); }

void TWindowFrontEnd::Write(std::span<const std::uint8_t> frame) {
  form_.VCP.Write(frame.data(), static_cast<int>(frame.size()));
}

void TWindowFrontEnd::Log(std::string_view line) {
  form_.Log->Add(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

void TWindowFrontEnd::LogInRed() { form_.Log->SetColor(QColor(255, 0, 0)); }

void TWindowFrontEnd::ProgressMax(int maximum) { form_.ProgressBar1->setMaximum(maximum); }

void TWindowFrontEnd::Progress(int position) { SetProgress(form_.ProgressBar1, position); }

void TWindowFrontEnd::Failure(const ServiceFailure& failure) {
  if (receiving_ > 0) {
    waiting_.push_back(failure);
    if (waiting_.size() == 1) ShowWhenReceiveEnds();
    return;
  }
  ShowMessageBox(QString::fromStdString(failure.text), QString::fromStdString(failure.title),
                 failure.warningIcon ? MsgIcon::Warning : MsgIcon::None);
}

void TWindowFrontEnd::ShowWhenReceiveEnds() {
  QTimer::singleShot(0, &form_, [this] {
    if (receiving_ > 0) return ShowWhenReceiveEnds();  // run from inside the handler: later
    while (!waiting_.empty()) {
      const ServiceFailure next = waiting_.front();
      waiting_.pop_front();
      Failure(next);
    }
  });
}

void TWindowFrontEnd::StartPacing(Pacer pacer) { TimerOf(form_, pacer)->start(); }

void TWindowFrontEnd::StopPacing(Pacer pacer) { TimerOf(form_, pacer)->stop(); }

void TWindowFrontEnd::CloseSoon(bool portListUsable) {
  form_.Timer2->start();
  if (portListUsable) form_.ComboBox1->setEnabled(true);
}

void TWindowFrontEnd::Identified(const TDeviceInfo& info) {
  if (IsCurrentReleaseUnit(info)) form_.AddReleaseId(info.Id[2], info.Id[1], info.Id[0]);
}

void TWindowFrontEnd::ReadStarted() {
  for (TDropDownCombo* list : form_.ConfigLists)
    list->setCurrentIndex(-1);
}

void TWindowFrontEnd::ConfigRead(const DecodedConfig& decoded) {
  if (decoded.errors != 0) return;
  form_.ShowConfigRecord(decoded.record);
  form_.B_SetConfig->setEnabled(true);
}

void TWindowFrontEnd::ShowStock(const ConfigRecord& stock) { form_.ShowConfigRecord(stock); }

void TWindowFrontEnd::TransferComplete(std::uint8_t kind) {
  if (kind != TransferFirmware) form_.B_SetConfig->setEnabled(true);
}

bool TWindowFrontEnd::ForceVentora() { return form_.Cb_Ventora->isChecked(); }

bool TWindowFrontEnd::AutoClose() { return form_.Cb_COMAutoClose->isChecked(); }

std::string TWindowFrontEnd::DateTimeText() { return ::DateTimeText().toLatin1().toStdString(); }

void TWindowFrontEnd::ProcessMessages() { ::ProcessMessages(); }
