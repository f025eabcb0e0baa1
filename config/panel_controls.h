#pragma once
// The configuration panel's controls seen as ConfigPanelValues: which edit box is which
// field, each condition's five boxes, and reading or writing the lot.

// lib
#include "config/panel_values.h"

class QCheckBox;
class TEdit;
class TForm1;

enum class Condition { VMX, VCH, RPX, OSC, BGL };

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
// Lists, then edit boxes, then choice boxes, in image order.
void WritePanelValues(TForm1& form, const ConfigPanelValues& values);
