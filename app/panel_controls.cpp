#include "app/panel_controls.h"

#include "app/controls.h"
#include "app/form1.h"

// Qt
#include <QCheckBox>
#include <QLineEdit>

TEdit* PanelEdit(const TForm1& f, ConfigEdit edit) { return f.ConfigEditBoxes.at(static_cast<std::size_t>(edit)); }

ConditionBoxes Boxes(const TForm1& f, Condition c) {
  const auto box = [&](ChoiceKind kind, unsigned weight) -> QCheckBox* {
    const std::size_t i = ChoiceIndex(c, kind, weight);
    return i < f.ConfigChoiceBoxes.size() ? f.ConfigChoiceBoxes[i] : nullptr;
  };
  return {box(ChoiceKind::Buzzer, 1), box(ChoiceKind::Buzzer, 2), box(ChoiceKind::Buzzer, 4),
          box(ChoiceKind::Event, 1), box(ChoiceKind::Event, 2)};
}

ConfigPanelValues ReadPanelValues(const TForm1& f) {
  ConfigPanelValues v;
  for (std::size_t i = 0; i < ConfigListCount; ++i) v.Item(i) = f.ConfigLists[i]->currentIndex();
  for (const ConfigEdit e : AllConfigEdits) v[e] = PanelEdit(f, e)->text().toStdString();
  for (std::size_t i = 0; i < ChoiceFieldCount; ++i)
    ChoiceIn(v.Choices, ChoiceFields[i]) = f.ConfigChoiceBoxes[i]->isChecked();
  return v;
}

void WritePanelValues(TForm1& f, const ConfigPanelValues& v) {
  for (std::size_t i = 0; i < ConfigListCount; ++i) f.ConfigLists[i]->setCurrentIndex(v.Item(i));
  // A value read from the unit may be longer than the box lets the user type (an idling time
  // of 120 in a two-character box); it is shown whole rather than cut to another number.
  for (const ConfigEdit e : AllConfigEdits) PanelEdit(f, e)->ShowWhole(QString::fromStdString(v[e]));
  for (std::size_t i = 0; i < ChoiceFieldCount; ++i)
    f.ConfigChoiceBoxes[i]->setChecked(ChoiceIn(v.Choices, ChoiceFields[i]));
}
