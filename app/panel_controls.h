#pragma once
// The configuration panel's controls seen as ConfigPanelValues: which edit box is which
// field, each condition's boxes, and reading or writing the lot.

// lib
#include "config/panel_values.h"

class QCheckBox;
class TEdit;
class TForm1;

// A condition's boxes; acceleration and braking have only BZ_IN (buzzer) and EV_IN (event).
struct ConditionBoxes {
  QCheckBox* BZ_IN;
  QCheckBox* BZ_OUT;
  QCheckBox* BZ_WH;
  QCheckBox* EV_IN;
  QCheckBox* EV_OUT;
};

[[nodiscard]] TEdit* PanelEdit(const TForm1& form, ConfigEdit edit);
[[nodiscard]] ConditionBoxes Boxes(const TForm1& form, Condition condition);

[[nodiscard]] ConfigPanelValues ReadPanelValues(const TForm1& form);
// Lists, then edit boxes, then choice boxes, in table order. A condition's buzzer boxes are
// set entry, exit, during: the interlock then leaves exactly a consistent record shown.
void WritePanelValues(TForm1& form, const ConfigPanelValues& values);
