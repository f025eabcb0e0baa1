#pragma once
// Every field of the configuration record, described once: its name (the record's member, also
// the key of a configuration file), the control that shows it, its place in the image, the
// spinner's range, the bounds a write accepts, the stock values and the names the messages and
// the remote listing give it. The image codec, the stock records, the write checks, the panel
// and the listing all read this table. Qt-free.

// lib
#include "config/config_record.h"

// Std
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

// The thirteen edit boxes, in image order, which is also the order a write checks them.
enum class ConfigEdit : std::uint8_t { ACP, ACN, VMX, TVMX, VCH, TVCH, RPX, TRPX, TOSC, XOSC, VBGL, RBGL, TBGL };
constexpr std::size_t ConfigEditCount = 13;
constexpr std::array<ConfigEdit, ConfigEditCount> AllConfigEdits{
    ConfigEdit::ACP,  ConfigEdit::ACN,  ConfigEdit::VMX,  ConfigEdit::TVMX, ConfigEdit::VCH,
    ConfigEdit::TVCH, ConfigEdit::RPX,  ConfigEdit::TRPX, ConfigEdit::TOSC, ConfigEdit::XOSC,
    ConfigEdit::VBGL, ConfigEdit::RBGL, ConfigEdit::TBGL};

// The supervised conditions that have an alert/event code byte, in image order (also the
// order of the remote listing).
enum class Condition : std::uint8_t { ACP, ACN, VMX, VCH, RPX, OSC, BGL };
constexpr std::size_t ConditionCount = 7;

// A numeric member of ConfigRecord. Its type is its width in the image: one byte or two,
// big-endian.
class RecordNumber {
 public:
  constexpr RecordNumber(std::uint8_t ConfigRecord::*member) : u8_(member) {}
  constexpr RecordNumber(std::uint16_t ConfigRecord::*member) : u16_(member) {}
  [[nodiscard]] constexpr std::size_t Width() const { return u16_ ? 2 : 1; }
  [[nodiscard]] constexpr std::uint32_t Largest() const { return u16_ ? 0xFFFF : 0xFF; }
  [[nodiscard]] constexpr std::uint32_t Get(const ConfigRecord& r) const { return u16_ ? r.*u16_ : r.*u8_; }
  // Keeps the bits that fit the width; callers check the value first where that matters.
  constexpr void Set(ConfigRecord& r, std::uint32_t value) const {
    if (u16_)
      r.*u16_ = static_cast<std::uint16_t>(value);
    else
      r.*u8_ = static_cast<std::uint8_t>(value);
  }

 private:
  std::uint8_t ConfigRecord::*u8_ = nullptr;
  std::uint16_t ConfigRecord::*u16_ = nullptr;
};

constexpr std::uint32_t NoUpperBound = 0xFFFFFFFF;

// One numeric field: a list (PING, A232, B232) or an edit box with its spinner.
struct NumericField {
  std::string_view Name;     // the ConfigRecord member
  std::string_view Control;  // "CB_" or "ED_" + Name
  RecordNumber Member;
  std::size_t Offset;        // in the image; the width is the member's
  std::uint16_t Default;     // DefaultConfig
  std::uint16_t Preset;      // VentoraPreset
  std::string_view Message;  // names the field when a write refuses it: "Parâmetro inválido!\r\n[...]"

  // Lists: item i shows Codes[i] x ItemScale; a write needs an item selected.
  std::span<const std::uint16_t> Codes{};
  unsigned ItemScale = 1;
  std::uint16_t OnlyCode = 0;     // a read accepts this code alone (0: any of Codes)
  std::string_view Mnemonic{};    // the listing's command ("#C" + Mnemonic); empty: not listed
  std::string_view ListingLabel{};

  // Edit boxes.
  std::string_view Spinner{};     // "UD_" + Name
  Condition Group{};              // the remote listing's group
  int SpinMin = 0;
  int SpinMax = 0;
  std::optional<int> SpinStart{}; // where the spinner starts when not at the default
  std::uint32_t WriteMin = 0;     // bounds a write accepts, as the panel states them; the write
  std::uint32_t WriteMax = NoUpperBound;  // also refuses what the width cannot hold
  int TextLimit = 0;              // characters the user can type
  std::string_view ListingName{}; // where the listing's refusal names the field otherwise

  [[nodiscard]] constexpr bool IsList() const { return !Codes.empty(); }
  [[nodiscard]] constexpr int SpinStartPosition() const { return SpinStart.value_or(Default); }
  [[nodiscard]] constexpr std::string_view ListingRefusalName() const {
    return ListingName.empty() ? Message : ListingName;
  }
};

// PING, A232, B232 and the thirteen edit boxes, in image order; the edit boxes are indexed by
// ConfigEdit after the lists.
constexpr std::size_t ConfigListCount = 3;
inline constexpr std::array<NumericField, ConfigListCount + ConfigEditCount> NumericFields{{
    {.Name = "PING", .Control = "CB_PING", .Member = &ConfigRecord::PING, .Offset = 8, .Default = 180, .Preset = 60,
     .Message = "PING", .Codes = PingTable, .Mnemonic = "PI", .ListingLabel = "PING"},
    {.Name = "A232", .Control = "CB_A232", .Member = &ConfigRecord::A232, .Offset = 10, .Default = 1152,
     .Preset = 1152, .Message = "RS232-A", .Codes = BaudTable, .ItemScale = 100, .OnlyCode = 1152},
    {.Name = "B232", .Control = "CB_B232", .Member = &ConfigRecord::B232, .Offset = 12, .Default = 192, .Preset = 192,
     .Message = "RS232-B", .Codes = BaudTable, .ItemScale = 100, .Mnemonic = "BR", .ListingLabel = "RS232-B"},

    {.Name = "ACP", .Control = "ED_ACP", .Member = &ConfigRecord::ACP, .Offset = 14, .Default = 11, .Preset = 11,
     .Message = "Aceleração",
     .Spinner = "UD_ACP", .Group = Condition::ACP, .SpinMin = 1, .SpinMax = 255, .TextLimit = 3},
    {.Name = "ACN", .Control = "ED_ACN", .Member = &ConfigRecord::ACN, .Offset = 15, .Default = 11, .Preset = 11,
     .Message = "Desaceleração",
     .Spinner = "UD_ACN", .Group = Condition::ACN, .SpinMin = 1, .SpinMax = 255, .TextLimit = 3},
    {.Name = "VMX", .Control = "ED_VMX", .Member = &ConfigRecord::VMX, .Offset = 19, .Default = 120, .Preset = 100,
     .Message = "Velocidade",
     .Spinner = "UD_VMX", .Group = Condition::VMX, .SpinMin = 1, .SpinMax = 250,
     .WriteMin = 0, .WriteMax = 150, .TextLimit = 3},
    {.Name = "TVMX", .Control = "ED_TVMX", .Member = &ConfigRecord::TVMX, .Offset = 20, .Default = 5, .Preset = 10,
     .Message = "Tempo validação Velocidade",
     .Spinner = "UD_TVMX", .Group = Condition::VMX, .SpinMin = 0, .SpinMax = 20,
     .WriteMin = 0, .WriteMax = 60, .TextLimit = 2},
    {.Name = "VCH", .Control = "ED_VCH", .Member = &ConfigRecord::VCH, .Offset = 22, .Default = 90, .Preset = 80,
     .Message = "Velocidade na Chuva",
     .Spinner = "UD_VCH", .Group = Condition::VCH, .SpinMin = 1, .SpinMax = 250,
     .WriteMin = 0, .WriteMax = 150, .TextLimit = 3},
    {.Name = "TVCH", .Control = "ED_TVCH", .Member = &ConfigRecord::TVCH, .Offset = 23, .Default = 5, .Preset = 10,
     .Message = "Tempo validação Velocidade na Chuva",
     .Spinner = "UD_TVCH", .Group = Condition::VCH, .SpinMin = 0, .SpinMax = 20,
     .WriteMin = 0, .WriteMax = 60, .TextLimit = 2},
    {.Name = "RPX", .Control = "ED_RPX", .Member = &ConfigRecord::RPX, .Offset = 25, .Default = 4500, .Preset = 4500,
     .Message = "Rotação do Motor",
     .Spinner = "UD_RPX", .Group = Condition::RPX, .SpinMin = 1000, .SpinMax = 9999,
     .WriteMin = 1000, .TextLimit = 4},
    {.Name = "TRPX", .Control = "ED_TRPX", .Member = &ConfigRecord::TRPX, .Offset = 27, .Default = 5, .Preset = 5,
     .Message = "Tempo validação Rotação",
     .Spinner = "UD_TRPX", .Group = Condition::RPX, .SpinMin = 0, .SpinMax = 20,
     .WriteMin = 0, .WriteMax = 60, .TextLimit = 2},
    {.Name = "TOSC", .Control = "ED_TOSC", .Member = &ConfigRecord::TOSC, .Offset = 29, .Default = 6, .Preset = 1,
     .Message = "Tempo osciosidade",
     .Spinner = "UD_TOSC", .Group = Condition::OSC, .SpinMin = 1, .SpinMax = 45, .SpinStart = 10,
     .WriteMin = 1, .TextLimit = 2, .ListingName = "Tempo ociosidade"},
    {.Name = "XOSC", .Control = "ED_XOSC", .Member = &ConfigRecord::XOSC, .Offset = 30, .Default = 7, .Preset = 7,
     .Message = "Tempo excessão manobra",
     .Spinner = "UD_XOSC", .Group = Condition::OSC, .SpinMin = 0, .SpinMax = 20,
     .WriteMin = 0, .WriteMax = 60, .TextLimit = 2},
    {.Name = "VBGL", .Control = "ED_VBGL", .Member = &ConfigRecord::VBGL, .Offset = 32, .Default = 40, .Preset = 40,
     .Message = "Velocidade min. Banguela",
     .Spinner = "UD_VBGL", .Group = Condition::BGL, .SpinMin = 1, .SpinMax = 250,
     .WriteMin = 1, .TextLimit = 3},
    {.Name = "RBGL", .Control = "ED_RBGL", .Member = &ConfigRecord::RBGL, .Offset = 33, .Default = 900, .Preset = 900,
     .Message = "Rotação max. Banguela",
     .Spinner = "UD_RBGL", .Group = Condition::BGL, .SpinMin = 300, .SpinMax = 1500,
     .WriteMin = 300, .WriteMax = 1000, .TextLimit = 4},
    {.Name = "TBGL", .Control = "ED_TBGL", .Member = &ConfigRecord::TBGL, .Offset = 35, .Default = 5, .Preset = 5,
     .Message = "Tempo validação Banguela",
     .Spinner = "UD_TBGL", .Group = Condition::BGL, .SpinMin = 0, .SpinMax = 20,
     .WriteMin = 0, .WriteMax = 30, .TextLimit = 2},
}};

[[nodiscard]] constexpr std::span<const NumericField> ListFields() {
  return std::span(NumericFields).first<ConfigListCount>();
}
[[nodiscard]] constexpr std::span<const NumericField> EditFields() {
  return std::span(NumericFields).subspan<ConfigListCount>();
}
[[nodiscard]] constexpr const NumericField& FieldOf(ConfigEdit e) {
  return NumericFields[ConfigListCount + static_cast<std::size_t>(e)];
}
static_assert(FieldOf(ConfigEdit::ACP).Name == "ACP" && FieldOf(ConfigEdit::ACN).Name == "ACN" &&
                  FieldOf(ConfigEdit::VMX).Name == "VMX" && FieldOf(ConfigEdit::TVMX).Name == "TVMX" &&
                  FieldOf(ConfigEdit::VCH).Name == "VCH" && FieldOf(ConfigEdit::TVCH).Name == "TVCH" &&
                  FieldOf(ConfigEdit::RPX).Name == "RPX" && FieldOf(ConfigEdit::TRPX).Name == "TRPX" &&
                  FieldOf(ConfigEdit::TOSC).Name == "TOSC" && FieldOf(ConfigEdit::XOSC).Name == "XOSC" &&
                  FieldOf(ConfigEdit::VBGL).Name == "VBGL" && FieldOf(ConfigEdit::RBGL).Name == "RBGL" &&
                  FieldOf(ConfigEdit::TBGL).Name == "TBGL",
              "ConfigEdit indexes the edit boxes in table order");

// Where a condition's choices sit in a record or in the panel's values: five in an
// AlertChoices, or a buzzer flag and an event flag.
template <class Shape>
struct ChoicePlace {
  AlertChoices Shape::*Alerts = nullptr;
  bool Shape::*Buzzer = nullptr;
  bool Shape::*Event = nullptr;
};

// One condition's alert/event code byte: 10 x buzzer digit + event digit.
struct ConditionField {
  std::string_view Name;
  std::size_t CodeOffset;      // in the image
  std::uint8_t BuzzerDigitMax; // the largest digits a read accepts
  std::uint8_t EventDigitMax;
  std::string_view Mnemonic;   // the listing's command ("#C" + Mnemonic)
  std::string_view Label;      // the listing's label
  ChoicePlace<ConfigRecord> InRecord;
};

inline constexpr std::array<ConditionField, ConditionCount> ConditionFields{{
    {"ACP", 16, 1, 1, "ACP", "Aceleração", {.Buzzer = &ConfigRecord::BZ_ACP, .Event = &ConfigRecord::EV_ACP}},
    {"ACN", 17, 1, 1, "ACN", "Desaceleração", {.Buzzer = &ConfigRecord::BZ_ACN, .Event = &ConfigRecord::EV_ACN}},
    // The buzzer digit stops at 4: "during" excludes entry and exit.
    {"VMX", 18, 4, 3, "VMX", "Velocidade", {.Alerts = &ConfigRecord::VMX_Alerts}},
    {"VCH", 21, 4, 3, "VCH", "Velocidade na chuva", {.Alerts = &ConfigRecord::VCH_Alerts}},
    {"RPX", 24, 4, 3, "RPX", "Rotação do motor", {.Alerts = &ConfigRecord::RPX_Alerts}},
    {"OSC", 28, 4, 3, "OCS", "Ociosidade do motor", {.Alerts = &ConfigRecord::OSC_Alerts}},
    {"BGL", 31, 4, 3, "BGL", "Banguela", {.Alerts = &ConfigRecord::BGL_Alerts}},
}};

[[nodiscard]] constexpr const ConditionField& FieldOf(Condition c) {
  return ConditionFields[static_cast<std::size_t>(c)];
}
static_assert(FieldOf(Condition::ACP).Name == "ACP" && FieldOf(Condition::ACN).Name == "ACN" &&
                  FieldOf(Condition::VMX).Name == "VMX" && FieldOf(Condition::VCH).Name == "VCH" &&
                  FieldOf(Condition::RPX).Name == "RPX" && FieldOf(Condition::OSC).Name == "OSC" &&
                  FieldOf(Condition::BGL).Name == "BGL",
              "Condition indexes the conditions in table order");

enum class ChoiceKind : std::uint8_t { Buzzer, Event };  // the code's tens or units digit

// One check box of the panel.
struct ChoiceField {
  std::string_view Name;     // the ConfigRecord member ("BZ_VMX_IN" is VMX_Alerts.BZ_IN)
  std::string_view Control;  // "CB_" + Name
  Condition Group;
  ChoiceKind Kind;
  std::uint8_t Weight;       // in its digit: entry 1, exit 2, during 4
  bool Default;
  bool Preset;

  [[nodiscard]] constexpr unsigned CodeWeight() const { return Kind == ChoiceKind::Buzzer ? 10u * Weight : Weight; }
};

constexpr std::size_t ChoiceFieldCount = 29;
inline constexpr std::array<ChoiceField, ChoiceFieldCount> ChoiceFields{{
    // name        control            condition       kind                weight default preset
    {"BZ_ACP",     "CB_BZ_ACP",      Condition::ACP, ChoiceKind::Buzzer, 1, true,  false},
    {"EV_ACP",     "CB_EV_ACP",      Condition::ACP, ChoiceKind::Event,  1, true,  true},
    {"BZ_ACN",     "CB_BZ_ACN",      Condition::ACN, ChoiceKind::Buzzer, 1, true,  false},
    {"EV_ACN",     "CB_EV_ACN",      Condition::ACN, ChoiceKind::Event,  1, true,  true},
    {"BZ_VMX_IN",  "CB_BZ_VMX_IN",  Condition::VMX, ChoiceKind::Buzzer, 1, true,  false},
    {"BZ_VMX_OUT", "CB_BZ_VMX_OUT", Condition::VMX, ChoiceKind::Buzzer, 2, false, false},
    {"BZ_VMX_WH",  "CB_BZ_VMX_WH",  Condition::VMX, ChoiceKind::Buzzer, 4, false, false},
    {"EV_VMX_IN",  "CB_EV_VMX_IN",  Condition::VMX, ChoiceKind::Event,  1, true,  true},
    {"EV_VMX_OUT", "CB_EV_VMX_OUT", Condition::VMX, ChoiceKind::Event,  2, false, true},
    {"BZ_VCH_IN",  "CB_BZ_VCH_IN",  Condition::VCH, ChoiceKind::Buzzer, 1, true,  false},
    {"BZ_VCH_OUT", "CB_BZ_VCH_OUT", Condition::VCH, ChoiceKind::Buzzer, 2, false, false},
    {"BZ_VCH_WH",  "CB_BZ_VCH_WH",  Condition::VCH, ChoiceKind::Buzzer, 4, false, false},
    {"EV_VCH_IN",  "CB_EV_VCH_IN",  Condition::VCH, ChoiceKind::Event,  1, true,  true},
    {"EV_VCH_OUT", "CB_EV_VCH_OUT", Condition::VCH, ChoiceKind::Event,  2, false, true},
    {"BZ_RPX_IN",  "CB_BZ_RPX_IN",  Condition::RPX, ChoiceKind::Buzzer, 1, true,  false},
    {"BZ_RPX_OUT", "CB_BZ_RPX_OUT", Condition::RPX, ChoiceKind::Buzzer, 2, false, false},
    {"BZ_RPX_WH",  "CB_BZ_RPX_WH",  Condition::RPX, ChoiceKind::Buzzer, 4, false, false},
    {"EV_RPX_IN",  "CB_EV_RPX_IN",  Condition::RPX, ChoiceKind::Event,  1, true,  true},
    {"EV_RPX_OUT", "CB_EV_RPX_OUT", Condition::RPX, ChoiceKind::Event,  2, false, true},
    {"BZ_OSC_IN",  "CB_BZ_OSC_IN",  Condition::OSC, ChoiceKind::Buzzer, 1, true,  false},
    {"BZ_OSC_OUT", "CB_BZ_OSC_OUT", Condition::OSC, ChoiceKind::Buzzer, 2, false, false},
    {"BZ_OSC_WH",  "CB_BZ_OSC_WH",  Condition::OSC, ChoiceKind::Buzzer, 4, false, false},
    {"EV_OSC_IN",  "CB_EV_OSC_IN",  Condition::OSC, ChoiceKind::Event,  1, true,  true},
    {"EV_OSC_OUT", "CB_EV_OSC_OUT", Condition::OSC, ChoiceKind::Event,  2, false, true},
    {"BZ_BGL_IN",  "CB_BZ_BGL_IN",  Condition::BGL, ChoiceKind::Buzzer, 1, true,  false},
    {"BZ_BGL_OUT", "CB_BZ_BGL_OUT", Condition::BGL, ChoiceKind::Buzzer, 2, false, false},
    {"BZ_BGL_WH",  "CB_BZ_BGL_WH",  Condition::BGL, ChoiceKind::Buzzer, 4, false, false},
    {"EV_BGL_IN",  "CB_EV_BGL_IN",  Condition::BGL, ChoiceKind::Event,  1, true,  true},
    {"EV_BGL_OUT", "CB_EV_BGL_OUT", Condition::BGL, ChoiceKind::Event,  2, false, true},
}};

// The box of a condition with this kind and weight (the table has each once).
[[nodiscard]] constexpr std::size_t ChoiceIndex(Condition group, ChoiceKind kind, unsigned weight) {
  for (std::size_t i = 0; i < ChoiceFields.size(); ++i)
    if (ChoiceFields[i].Group == group && ChoiceFields[i].Kind == kind && ChoiceFields[i].Weight == weight) return i;
  return ChoiceFields.size();
}

// The box's flag in a record, or in anything else that places the choices.
template <class Shape>
[[nodiscard]] constexpr auto& ChoiceAt(Shape& shape, const ChoicePlace<std::remove_const_t<Shape>>& place,
                                       const ChoiceField& box) {
  if (place.Alerts) {
    auto& a = shape.*place.Alerts;
    if (box.Kind == ChoiceKind::Event) return box.Weight == 1 ? a.EV_IN : a.EV_OUT;
    return box.Weight == 1 ? a.BZ_IN : box.Weight == 2 ? a.BZ_OUT : a.BZ_WH;
  }
  return shape.*(box.Kind == ChoiceKind::Buzzer ? place.Buzzer : place.Event);
}
[[nodiscard]] constexpr bool& ChoiceIn(ConfigRecord& r, const ChoiceField& box) {
  return ChoiceAt(r, FieldOf(box.Group).InRecord, box);
}
[[nodiscard]] constexpr bool ChoiceIn(const ConfigRecord& r, const ChoiceField& box) {
  return ChoiceAt(r, FieldOf(box.Group).InRecord, box);
}

// A condition's code for what is ticked: the weights of its boxes added up.
template <class Shape>
[[nodiscard]] constexpr std::uint8_t CodeAt(const Shape& shape, const ChoicePlace<Shape>& place, Condition c) {
  unsigned code = 0;
  for (const ChoiceField& box : ChoiceFields)
    if (box.Group == c && ChoiceAt(shape, place, box)) code += box.CodeWeight();
  return static_cast<std::uint8_t>(code);
}
[[nodiscard]] constexpr std::uint8_t CodeOf(const ConfigRecord& r, Condition c) {
  return CodeAt(r, FieldOf(c).InRecord, c);
}

// The image's fields run from offset 8 up to the checksum.
constexpr std::size_t ConfigFieldsBegin = 8;
inline constexpr std::size_t ConfigFieldsEnd = [] {
  std::size_t end = ConfigFieldsBegin;
  for (const NumericField& f : NumericFields) end = std::max(end, f.Offset + f.Member.Width());
  for (const ConditionField& c : ConditionFields) end = std::max(end, c.CodeOffset + 1);
  return end;
}();
static_assert(ConfigFieldsEnd + 3 <= ConfigImageSize, "the checksum follows the fields inside the image");

// Lookups by name, for files that name the fields; nullptr when there is no such field.
[[nodiscard]] const NumericField* FindNumericField(std::string_view name);
[[nodiscard]] const ChoiceField* FindChoiceField(std::string_view name);

// Index of a code in a list's table, or -1.
[[nodiscard]] int CodeIndex(const NumericField& list, std::uint32_t code);
// The largest value a write accepts: the bound as stated, or what the width holds if less.
[[nodiscard]] constexpr std::uint32_t WriteLimit(const NumericField& f) {
  return f.WriteMax < f.Member.Largest() ? f.WriteMax : f.Member.Largest();
}
// Whether a write takes this value: a list's code from its table, an edit box's number
// within its bounds and its width.
[[nodiscard]] bool WriteAccepts(const NumericField& f, std::uint32_t value);
// "Parâmetro inválido!\r\n[<field>]": what a refused write shows.
[[nodiscard]] std::string WriteRefusal(const NumericField& f);
