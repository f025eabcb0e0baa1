// The window's side of the serial link: the port list, the connect button, the open and
// closed states of the window and the delayed close.
#include "app/form1.h"

// lib
#include "app/controls.h"
#include "app/platform.h"

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
  if (ComboBox1->currentIndex() < 0) {
    ButtonVCP->AllowAllUp = true;
    ButtonVCP->SetDown(false);
    return;
  }
  VCP.Port = ComboBox1->currentText().toStdString();
  ProcessMessages();

  if (VCP.Connected()) {
    VCP.SetConnected(false);
    ButtonVCPState(false);
    ComboBox1->setEnabled(true);
    return;
  }

  try {
    VCP.SetConnected(true);
  } catch (...) {
    // Missing, held by another program, settings refused: the window stays closed.
    ButtonVCP->AllowAllUp = true;
    ButtonVCP->SetDown(false);
    return;
  }
  VCP.ClearBuffer(true, true);
  Timer2->stop();  // a close still pending was asked for by the previous connection
  ButtonVCPState(true);
  ComboBox1->setEnabled(false);
}

void TForm1::ButtonVCPState(bool open) {
  ButtonVCP->setIcon(QIcon());
  ProcessMessages();

  if (open) {
    ButtonVCP->AllowAllUp = false;
    IdentityHandled = false;
    Log->Clear();
    for (TDropDownCombo* list : {CB_PING, CB_A232, CB_B232})
      list->setCurrentIndex(-1);
    B_RemConfig->setEnabled(false);
    for (QLineEdit* edit :
         {ED_ACP, ED_ACN, ED_VMX, ED_TVMX, ED_VCH, ED_TVCH, ED_RPX, ED_TRPX, ED_VBGL, ED_TBGL, ED_RBGL, ED_TOSC, ED_XOSC})
      edit->clear();
    // In this order; a box whose state changes runs its click handler.
    for (QCheckBox* box : {CB_EV_ACP,     CB_BZ_ACP,     CB_EV_ACN,     CB_BZ_ACN,     CB_EV_VMX_IN,  CB_EV_VMX_OUT,
                           CB_BZ_VMX_IN,  CB_BZ_VMX_OUT, CB_BZ_VMX_WH,  CB_EV_VCH_IN,  CB_EV_VCH_OUT, CB_BZ_VCH_IN,
                           CB_BZ_VCH_OUT, CB_BZ_VCH_WH,  CB_EV_RPX_IN,  CB_EV_RPX_OUT, CB_BZ_RPX_IN,  CB_BZ_RPX_OUT,
                           CB_BZ_RPX_WH,  CB_EV_BGL_IN,  CB_EV_BGL_OUT, CB_BZ_BGL_IN,  CB_BZ_BGL_OUT, CB_BZ_BGL_WH,
                           CB_EV_OSC_IN,  CB_EV_OSC_OUT, CB_BZ_OSC_IN,  CB_BZ_OSC_OUT, CB_BZ_OSC_WH})
      box->setChecked(false);
    Log->Add(QStringLiteral("Conexão aberta..."));
    ButtonVCP->setIcon(ImageList1[0]);
  } else {
    ButtonVCP->AllowAllUp = true;
    ButtonVCP->SetDown(false);
    Log->Add(QStringLiteral("Conexão fechada..."));
    ButtonVCP->setIcon(ImageList1[1]);
    B_SetConfig->setEnabled(false);
    B_RemConfig->setEnabled(true);
  }
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
