// The window's side of the serial link: the port list, the connect button, the open and
// closed states of the window and the delayed close.
#include "app/form1.h"

// lib
#include "app/controls.h"
#include "app/platform.h"
#include "service/service_engine.h"

// Qt
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

// Std
#include <string>
#include <vector>

namespace {

std::string& PortListSource() {
  static std::string source;
  return source;
}

}  // namespace

void ListSerialPorts(std::vector<std::string>& ports) {
  if (PortListSource().empty())
    EnumComPorts(ports);
  else
    EnumComPorts(ports, PortListSource());
}

void SetPortListSourceForTests(std::string source) { PortListSource() = std::move(source); }

void TForm1::ComboBox1DropDown() {
  std::vector<std::string> ports;
  try {
    ListSerialPorts(ports);
  } catch (const EComPort&) {
    return;  // the list keeps its entries and selection
  }
  ComboBox1->clear();
  for (const std::string& port : ports)
    ComboBox1->addItem(QString::fromStdString(port));
  if (ComboBox1->count() > 0)
    ComboBox1->setCurrentIndex(0);
}

void TForm1::ButtonVCPClick() {
  const auto stayClosed = [this] {
    ButtonVCP->AllowAllUp = true;
    ButtonVCP->SetDown(false);
  };
  if (ComboBox1->currentIndex() < 0) return stayClosed();
  // What the click asks for is decided by the port as it was clicked: the pending messages
  // may close or open it meanwhile (the delayed close, a click under a box), and a click
  // that meant to close must not open it again. Whoever changed it has set the window.
  const bool closing = VCP.Connected();
  VCP.Port = ComboBox1->currentText().toStdString();
  ProcessMessages();
  if (VCP.Connected() != closing) return;

  if (closing) {
    VCP.SetConnected(false);
    ComboBox1->setEnabled(true);
    ButtonVCPState(false);
    return;
  }

  try {
    VCP.SetConnected(true);
  } catch (const EComPort&) {
    // Missing, held by another program, settings refused: the window stays closed.
    return stayClosed();
  } catch (...) {
    // Not the port's failure but the program's own: closed too, and reported.
    stayClosed();
    throw;
  }
  VCP.ClearBuffer(true, true);
  Timer2->stop();  // a close still pending was asked for by the previous connection
  ComboBox1->setEnabled(false);
  ButtonVCPState(true);
}

// The state is set in full before pending messages run: a box may come up while they run,
// and a click under it must find the window as the port is.
void TForm1::ButtonVCPState(bool open) {
  ButtonVCP->setIcon(QIcon());
  if (open) {
    // The new connection starts clean before anything else runs: the unit may announce itself
    // while the pending messages below run, and its identity belongs to this connection (were
    // the log cleared after it, its lines would be lost and the identity taken in again).
    ButtonVCP->AllowAllUp = false;
    Engine().NewConnection();
    Log->Clear();
    for (TDropDownCombo* list : ConfigLists)
      list->setCurrentIndex(-1);
    B_RemConfig->setEnabled(false);
    // The record's fields only, not the engine-brake group. A box whose state changes runs its
    // click handler (unticking changes no other box).
    for (TEdit* edit : ConfigEditBoxes)
      edit->clear();
    for (QCheckBox* box : ConfigChoiceBoxes)
      box->setChecked(false);
    Log->Add(QStringLiteral("Conexão aberta..."));
  } else {
    ButtonVCP->AllowAllUp = true;
    ButtonVCP->SetDown(false);
    Log->Add(QStringLiteral("Conexão fechada..."));
    B_SetConfig->setEnabled(false);
    B_RemConfig->setEnabled(true);
  }
  ProcessMessages();
  ButtonVCP->setIcon(ImageList1[VCP.Connected() ? 0 : 1]);  // the port as it is now
  ProcessMessages();
}

void TForm1::Timer2Timer() {
  Timer2->stop();
  if (!VCP.Connected())
    return;  // closed by the button meanwhile: already logged
  VCP.SetConnected(false);
  ButtonVCPState(false);
}

void TForm1::VCPHangUp() {
  // The unit was unplugged: the normal close follows 50 ms later, outside the hand-off.
  ComboBox1->setEnabled(true);
  Timer2->start();
}
