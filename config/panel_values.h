#pragma once
// What the configuration panel holds, as plain values, and the checks a write makes before
// the record is encoded. The window reads its controls into ConfigPanelValues and writes
// back what the checks decide. Qt-free.

// lib
#include "config/config_fields.h"

// Std
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The twenty-nine choice boxes.
struct PanelChoices {
  bool BZ_ACP = false, EV_ACP = false;
  bool BZ_ACN = false, EV_ACN = false;
  AlertChoices VMX, VCH, RPX, OSC, BGL;
  friend bool operator==(const PanelChoices&, const PanelChoices&) = default;
};
// A box's flag among the panel's choices.
[[nodiscard]] bool& ChoiceIn(PanelChoices& choices, const ChoiceField& box);
[[nodiscard]] bool ChoiceIn(const PanelChoices& choices, const ChoiceField& box);
// A condition's code for the boxes ticked on the panel.
[[nodiscard]] std::uint8_t CodeOf(const PanelChoices& choices, Condition c);

struct ConfigPanelValues {
  int PingItem = -1;  // selected item of CB_PING, -1 when none
  int A232Item = -1;
  int B232Item = -1;
  std::array<std::string, ConfigEditCount> Text;  // edit box texts (UTF-8), by ConfigEdit
  PanelChoices Choices;

  [[nodiscard]] std::string& operator[](ConfigEdit e) { return Text[static_cast<std::size_t>(e)]; }
  [[nodiscard]] const std::string& operator[](ConfigEdit e) const { return Text[static_cast<std::size_t>(e)]; }
  // The selected item of a list, by its position among the table's lists (PING, A232, B232).
  [[nodiscard]] int& Item(std::size_t list);
  [[nodiscard]] int Item(std::size_t list) const;
};

// Decimal value of a digit text, saturating at 4294967295 instead of overflowing.
// Call only on text that passes IsAllDigits.
[[nodiscard]] std::uint32_t DecimalValue(std::string_view digits);

struct PanelCheck {
  std::optional<ConfigRecord> record;   // set when every field passed
  std::optional<ConfigEdit> failedEdit; // the edit box to empty, if an edit box failed
  std::string message;                  // the "Erro" box text when refused
};
// Checks the edit boxes in order, then that each list has an entry selected; the first
// failure decides. A record is returned only when everything passed.
[[nodiscard]] PanelCheck CheckConfigPanel(const ConfigPanelValues& values);

// The panel's values for a record (edit texts as plain decimals, list items at the table
// positions); the inverse of a passing CheckConfigPanel for records that fit the bounds.
[[nodiscard]] ConfigPanelValues PanelValuesOf(const ConfigRecord& record);
