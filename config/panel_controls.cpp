#include "config/panel_controls.h"

#include "app/controls.h"
#include "app/form1.h"

// Qt
#include <QCheckBox>
#include <QLineEdit>

namespace {

AlertChoices Read(const ConditionBoxes& b) {
  return {.BZ_IN = b.BZ_IN->isChecked(), .BZ_OUT = b.BZ_OUT->isChecked(), .BZ_WH = b.BZ_WH->isChecked(),
          .EV_IN = b.EV_IN->isChecked(), .EV_OUT = b.EV_OUT->isChecked()};
}

void Write(const ConditionBoxes& b, const AlertChoices& c) {
  b.BZ_IN->setChecked(c.BZ_IN);
  b.BZ_OUT->setChecked(c.BZ_OUT);
  b.BZ_WH->setChecked(c.BZ_WH);
  b.EV_IN->setChecked(c.EV_IN);
  b.EV_OUT->setChecked(c.EV_OUT);
}

// A value read from the unit may be longer than the box lets the user type (an idling time
// of 120 in a two-character box); it is shown whole rather than cut to another number.
void ShowText(TEdit* edit, const std::string& text) { edit->ShowWhole(QString::fromStdString(text)); }

}  // namespace

TEdit* PanelEdit(const TForm1& f, ConfigEdit edit) {
  switch (edit) {
    case ConfigEdit::ACP: return f.ED_ACP;
    case ConfigEdit::ACN: return f.ED_ACN;
    case ConfigEdit::VMX: return f.ED_VMX;
    case ConfigEdit::TVMX: return f.ED_TVMX;
    case ConfigEdit::VCH: return f.ED_VCH;
    case ConfigEdit::TVCH: return f.ED_TVCH;
    case ConfigEdit::RPX: return f.ED_RPX;
    case ConfigEdit::TRPX: return f.ED_TRPX;
    case ConfigEdit::TOSC: return f.ED_TOSC;
    case ConfigEdit::XOSC: return f.ED_XOSC;
    case ConfigEdit::VBGL: return f.ED_VBGL;
    case ConfigEdit::RBGL: return f.ED_RBGL;
    case ConfigEdit::TBGL: return f.ED_TBGL;
  }
  return nullptr;
}

ConditionBoxes Boxes(const TForm1& f, Condition c) {
  switch (c) {
    case Condition::VMX: return {f.CB_BZ_VMX_IN, f.CB_BZ_VMX_OUT, f.CB_BZ_VMX_WH, f.CB_EV_VMX_IN, f.CB_EV_VMX_OUT};
    case Condition::VCH: return {f.CB_BZ_VCH_IN, f.CB_BZ_VCH_OUT, f.CB_BZ_VCH_WH, f.CB_EV_VCH_IN, f.CB_EV_VCH_OUT};
    case Condition::RPX: return {f.CB_BZ_RPX_IN, f.CB_BZ_RPX_OUT, f.CB_BZ_RPX_WH, f.CB_EV_RPX_IN, f.CB_EV_RPX_OUT};
    case Condition::OSC: return {f.CB_BZ_OSC_IN, f.CB_BZ_OSC_OUT, f.CB_BZ_OSC_WH, f.CB_EV_OSC_IN, f.CB_EV_OSC_OUT};
    case Condition::BGL: break;
  }
  return {f.CB_BZ_BGL_IN, f.CB_BZ_BGL_OUT, f.CB_BZ_BGL_WH, f.CB_EV_BGL_IN, f.CB_EV_BGL_OUT};
}

ConfigPanelValues ReadPanelValues(const TForm1& f) {
  ConfigPanelValues v;
  v.PingItem = f.CB_PING->currentIndex();
  v.A232Item = f.CB_A232->currentIndex();
  v.B232Item = f.CB_B232->currentIndex();
  for (const ConfigEdit e : AllConfigEdits) v[e] = PanelEdit(f, e)->text().toStdString();
  v.Choices.BZ_ACP = f.CB_BZ_ACP->isChecked();
  v.Choices.EV_ACP = f.CB_EV_ACP->isChecked();
  v.Choices.BZ_ACN = f.CB_BZ_ACN->isChecked();
  v.Choices.EV_ACN = f.CB_EV_ACN->isChecked();
  v.Choices.VMX = Read(Boxes(f, Condition::VMX));
  v.Choices.VCH = Read(Boxes(f, Condition::VCH));
  v.Choices.RPX = Read(Boxes(f, Condition::RPX));
  v.Choices.OSC = Read(Boxes(f, Condition::OSC));
  v.Choices.BGL = Read(Boxes(f, Condition::BGL));
  return v;
}

void WritePanelValues(TForm1& f, const ConfigPanelValues& v) {
  f.CB_PING->setCurrentIndex(v.PingItem);
  f.CB_A232->setCurrentIndex(v.A232Item);
  f.CB_B232->setCurrentIndex(v.B232Item);
  ShowText(f.ED_ACP, v[ConfigEdit::ACP]);
  ShowText(f.ED_ACN, v[ConfigEdit::ACN]);
  f.CB_BZ_ACP->setChecked(v.Choices.BZ_ACP);
  f.CB_EV_ACP->setChecked(v.Choices.EV_ACP);
  f.CB_BZ_ACN->setChecked(v.Choices.BZ_ACN);
  f.CB_EV_ACN->setChecked(v.Choices.EV_ACN);
  const auto condition = [&](Condition c, std::initializer_list<ConfigEdit> edits, const AlertChoices& choices) {
    Write(Boxes(f, c), choices);
    for (const ConfigEdit e : edits) ShowText(PanelEdit(f, e), v[e]);
  };
  condition(Condition::VMX, {ConfigEdit::VMX, ConfigEdit::TVMX}, v.Choices.VMX);
  condition(Condition::VCH, {ConfigEdit::VCH, ConfigEdit::TVCH}, v.Choices.VCH);
  condition(Condition::RPX, {ConfigEdit::RPX, ConfigEdit::TRPX}, v.Choices.RPX);
  condition(Condition::OSC, {ConfigEdit::TOSC, ConfigEdit::XOSC}, v.Choices.OSC);
  condition(Condition::BGL, {ConfigEdit::VBGL, ConfigEdit::RBGL, ConfigEdit::TBGL}, v.Choices.BGL);
}
