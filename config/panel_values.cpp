#include "config/panel_values.h"

// Std
#include <limits>

namespace {

// Where the panel's values keep each condition's boxes, by Condition.
constexpr std::array<ChoicePlace<PanelChoices>, ConditionCount> PanelPlaces{{
    {.Buzzer = &PanelChoices::BZ_ACP, .Event = &PanelChoices::EV_ACP},
    {.Buzzer = &PanelChoices::BZ_ACN, .Event = &PanelChoices::EV_ACN},
    {.Alerts = &PanelChoices::VMX},
    {.Alerts = &PanelChoices::VCH},
    {.Alerts = &PanelChoices::RPX},
    {.Alerts = &PanelChoices::OSC},
    {.Alerts = &PanelChoices::BGL},
}};

// The lists' selected items, in table order.
constexpr std::array<int ConfigPanelValues::*, ConfigListCount> ListItems{
    &ConfigPanelValues::PingItem, &ConfigPanelValues::A232Item, &ConfigPanelValues::B232Item};

}  // namespace

bool& ChoiceIn(PanelChoices& c, const ChoiceField& box) {
  return ChoiceAt(c, PanelPlaces[static_cast<std::size_t>(box.Group)], box);
}
bool ChoiceIn(const PanelChoices& c, const ChoiceField& box) {
  return ChoiceAt(c, PanelPlaces[static_cast<std::size_t>(box.Group)], box);
}

std::uint8_t CodeOf(const PanelChoices& c, Condition condition) {
  return CodeAt(c, PanelPlaces[static_cast<std::size_t>(condition)], condition);
}

int& ConfigPanelValues::Item(std::size_t list) { return this->*ListItems.at(list); }
int ConfigPanelValues::Item(std::size_t list) const { return this->*ListItems.at(list); }

std::uint32_t DecimalValue(std::string_view digits) {
  constexpr std::uint32_t top = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t value = 0;
  for (const char c : digits) {
    const auto d = static_cast<std::uint32_t>(c - '0');
    if (d > 9) break;
    if (value > (top - d) / 10) return top;
    value = value * 10 + d;
  }
  return value;
}

PanelCheck CheckConfigPanel(const ConfigPanelValues& v) {
  PanelCheck out;
  ConfigRecord r;
  for (const ConfigEdit e : AllConfigEdits) {
    const NumericField& f = FieldOf(e);
    const std::string& text = v[e];
    if (!IsAllDigits(text) || !WriteAccepts(f, DecimalValue(text))) {
      out.failedEdit = e;
      out.message = WriteRefusal(f);
      return out;
    }
    f.Member.Set(r, DecimalValue(text));
  }
  // A list with nothing selected cannot be encoded.
  for (std::size_t i = 0; i < ConfigListCount; ++i) {
    const NumericField& f = ListFields()[i];
    const int item = v.Item(i);
    if (item < 0 || static_cast<std::size_t>(item) >= f.Codes.size()) {
      out.message = WriteRefusal(f);
      return out;
    }
    f.Member.Set(r, f.Codes[static_cast<std::size_t>(item)]);
  }
  for (const ChoiceField& box : ChoiceFields) ChoiceIn(r, box) = ChoiceIn(v.Choices, box);
  out.record = r;
  return out;
}

ConfigPanelValues PanelValuesOf(const ConfigRecord& r) {
  ConfigPanelValues v;
  for (std::size_t i = 0; i < ConfigListCount; ++i) {
    const NumericField& list = ListFields()[i];
    v.Item(i) = CodeIndex(list, list.Member.Get(r));
  }
  for (const ConfigEdit e : AllConfigEdits) v[e] = std::to_string(FieldOf(e).Member.Get(r));
  for (const ChoiceField& box : ChoiceFields) ChoiceIn(v.Choices, box) = ChoiceIn(r, box);
  return v;
}
