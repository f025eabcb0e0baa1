// The configuration panel: the write with its checks, the two fill buttons, showing a record
// (read from the unit, or a stock one about to replace it), and the buzzer boxes' interlock.
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "config/panel_controls.h"
#include "config/panel_values.h"
#include "service/service_engine.h"

// Qt
#include <QCheckBox>
#include <QColor>
#include <QLineEdit>
#include <QPushButton>

// Std
#include <initializer_list>
#include <utility>

namespace {

// One condition's edit texts and boxes, in the order the fill buttons set them: the edit
// boxes, event at entry, event at exit, buzzer at entry, buzzer at exit.
void FillCondition(std::initializer_list<std::pair<QLineEdit*, const char*>> edits, const ConditionBoxes& boxes,
                   const AlertChoices& choices) {
  for (const auto& [edit, text] : edits) edit->setText(QString::fromLatin1(text));
  boxes.EV_IN->setChecked(choices.EV_IN);
  boxes.EV_OUT->setChecked(choices.EV_OUT);
  boxes.BZ_IN->setChecked(choices.BZ_IN);
  boxes.BZ_OUT->setChecked(choices.BZ_OUT);
}

}  // namespace

void TForm1::B_SetConfigClick() {
  const ConfigPanelValues values = ReadPanelValues(*this);
  const PanelCheck check = CheckConfigPanel(values);
  if (!check.record) {
    ShowMessageBox(QString::fromStdString(check.message), QStringLiteral("Erro"), MsgIcon::Warning, MsgButtons::Ok);
    if (check.failedEdit) PanelEdit(*this, *check.failedEdit)->clear();
    return;
  }
  Engine().WriteConfig(*check.record);
}

void TForm1::B_SetDefaultsClick() {
  const ConfigRecord& r = DefaultConfig();
  CB_PING->setCurrentIndex(8);
  CB_A232->setCurrentIndex(3);
  CB_B232->setCurrentIndex(1);
  ED_ACP->setText(QStringLiteral("11"));
  CB_EV_ACP->setChecked(true);
  CB_BZ_ACP->setChecked(true);
  ED_ACN->setText(QStringLiteral("11"));
  CB_EV_ACN->setChecked(true);
  CB_BZ_ACN->setChecked(true);
  // Buzzer "during" is left to the interlock: buzzer at entry going on clears it.
  FillCondition({{ED_VMX, "120"}, {ED_TVMX, "5"}}, Boxes(*this, Condition::VMX), r.VMX_Alerts);
  FillCondition({{ED_VCH, "90"}, {ED_TVCH, "5"}}, Boxes(*this, Condition::VCH), r.VCH_Alerts);
  FillCondition({{ED_RPX, "4500"}, {ED_TRPX, "5"}}, Boxes(*this, Condition::RPX), r.RPX_Alerts);
  FillCondition({{ED_TOSC, "6"}, {ED_XOSC, "7"}}, Boxes(*this, Condition::OSC), r.OSC_Alerts);
  FillCondition({{ED_VBGL, "40"}, {ED_RBGL, "900"}, {ED_TBGL, "5"}}, Boxes(*this, Condition::BGL), r.BGL_Alerts);
}

void TForm1::B_SetVentoraClick() {
  const ConfigRecord& r = VentoraPreset();
  CB_PING->setCurrentIndex(5);
  CB_A232->setCurrentIndex(3);
  CB_B232->setCurrentIndex(1);
  ED_ACP->setText(QStringLiteral("11"));
  CB_EV_ACP->setChecked(true);
  CB_BZ_ACP->setChecked(false);
  ED_ACN->setText(QStringLiteral("11"));
  CB_EV_ACN->setChecked(true);
  CB_BZ_ACN->setChecked(false);
  const auto fill = [this](std::initializer_list<std::pair<QLineEdit*, const char*>> edits, Condition c,
                           const AlertChoices& choices) {
    const ConditionBoxes boxes = Boxes(*this, c);
    FillCondition(edits, boxes, choices);
    boxes.BZ_WH->setChecked(choices.BZ_WH);
  };
  fill({{ED_VMX, "100"}, {ED_TVMX, "10"}}, Condition::VMX, r.VMX_Alerts);
  fill({{ED_VCH, "80"}, {ED_TVCH, "10"}}, Condition::VCH, r.VCH_Alerts);
  fill({{ED_RPX, "4500"}, {ED_TRPX, "5"}}, Condition::RPX, r.RPX_Alerts);
  fill({{ED_TOSC, "1"}, {ED_XOSC, "7"}}, Condition::OSC, r.OSC_Alerts);
  fill({{ED_VBGL, "40"}, {ED_RBGL, "900"}, {ED_TBGL, "5"}}, Condition::BGL, r.BGL_Alerts);
}

void TForm1::ShowConfigRecord(const ConfigRecord& record) {
  WritePanelValues(*this, PanelValuesOf(record));
}

void TForm1::BuzzerClick(QCheckBox* changed, QCheckBox* in, QCheckBox* out, QCheckBox* during) {
  if (!changed->isChecked()) return;
  if (changed == during) {
    in->setChecked(false);
    out->setChecked(false);
  } else {
    during->setChecked(false);
  }
}

void TForm1::CB_BZ_VMX_INClick() { BuzzerClick(CB_BZ_VMX_IN, CB_BZ_VMX_IN, CB_BZ_VMX_OUT, CB_BZ_VMX_WH); }
void TForm1::CB_BZ_VMX_OUTClick() { BuzzerClick(CB_BZ_VMX_OUT, CB_BZ_VMX_IN, CB_BZ_VMX_OUT, CB_BZ_VMX_WH); }
void TForm1::CB_BZ_VMX_WHClick() { BuzzerClick(CB_BZ_VMX_WH, CB_BZ_VMX_IN, CB_BZ_VMX_OUT, CB_BZ_VMX_WH); }
void TForm1::CB_BZ_VCH_INClick() { BuzzerClick(CB_BZ_VCH_IN, CB_BZ_VCH_IN, CB_BZ_VCH_OUT, CB_BZ_VCH_WH); }
void TForm1::CB_BZ_VCH_OUTClick() { BuzzerClick(CB_BZ_VCH_OUT, CB_BZ_VCH_IN, CB_BZ_VCH_OUT, CB_BZ_VCH_WH); }
void TForm1::CB_BZ_VCH_WHClick() { BuzzerClick(CB_BZ_VCH_WH, CB_BZ_VCH_IN, CB_BZ_VCH_OUT, CB_BZ_VCH_WH); }
void TForm1::CB_BZ_RPX_INClick() { BuzzerClick(CB_BZ_RPX_IN, CB_BZ_RPX_IN, CB_BZ_RPX_OUT, CB_BZ_RPX_WH); }
void TForm1::CB_BZ_RPX_OUTClick() { BuzzerClick(CB_BZ_RPX_OUT, CB_BZ_RPX_IN, CB_BZ_RPX_OUT, CB_BZ_RPX_WH); }
void TForm1::CB_BZ_RPX_WHClick() { BuzzerClick(CB_BZ_RPX_WH, CB_BZ_RPX_IN, CB_BZ_RPX_OUT, CB_BZ_RPX_WH); }
void TForm1::CB_BZ_OSC_INClick() { BuzzerClick(CB_BZ_OSC_IN, CB_BZ_OSC_IN, CB_BZ_OSC_OUT, CB_BZ_OSC_WH); }
void TForm1::CB_BZ_OSC_OUTClick() { BuzzerClick(CB_BZ_OSC_OUT, CB_BZ_OSC_IN, CB_BZ_OSC_OUT, CB_BZ_OSC_WH); }
void TForm1::CB_BZ_OSC_WHClick() { BuzzerClick(CB_BZ_OSC_WH, CB_BZ_OSC_IN, CB_BZ_OSC_OUT, CB_BZ_OSC_WH); }
void TForm1::CB_BZ_BGL_INClick() { BuzzerClick(CB_BZ_BGL_IN, CB_BZ_BGL_IN, CB_BZ_BGL_OUT, CB_BZ_BGL_WH); }
void TForm1::CB_BZ_BGL_OUTClick() { BuzzerClick(CB_BZ_BGL_OUT, CB_BZ_BGL_IN, CB_BZ_BGL_OUT, CB_BZ_BGL_WH); }
void TForm1::CB_BZ_BGL_WHClick() { BuzzerClick(CB_BZ_BGL_WH, CB_BZ_BGL_IN, CB_BZ_BGL_OUT, CB_BZ_BGL_WH); }
