// The configuration panel: the write with its checks, the two fill buttons, showing a record
// (read from the unit, or a stock one about to replace it), and the buzzer boxes' interlock.
#include "app/controls.h"
#include "app/form1.h"
#include "app/platform.h"
#include "app/panel_controls.h"
#include "config/panel_values.h"
#include "service/service_engine.h"

// Qt
#include <QCheckBox>
#include <QColor>
#include <QLineEdit>
#include <QPushButton>

void TForm1::B_SetConfigClick() {
  const ConfigPanelValues values = ReadPanelValues(*this);
  const PanelCheck check = CheckConfigPanel(values);
  if (!check.record) {
    // The window takes no input until OK: the field is emptied then, so nothing may change
    // the panel or start another write under the box.
    ShowMessageBox(QString::fromStdString(check.message), QStringLiteral("Erro"), MsgIcon::Warning, MsgButtons::Ok,
                   MsgWindow::Blocked);
    if (check.failedEdit) PanelEdit(*this, *check.failedEdit)->clear();
    return;
  }
  Engine().WriteConfig(*check.record);
}

// The stock records reach the panel as a read record does.
void TForm1::B_SetDefaultsClick() { ShowConfigRecord(DefaultConfig()); }

void TForm1::B_SetVentoraClick() { ShowConfigRecord(VentoraPreset()); }

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
