#include "config/remote_commands.h"

// Std
#include <cstdint>

namespace {

std::string TwoDigits(unsigned code) {
  std::string s = std::to_string(code);
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  return s;
}

std::string Refusal(std::string_view name) {
  std::string line = "Parâmetro inválido! [";
  line += name;
  line += ']';
  return line;
}

void Finish(RemoteListing& out, std::string command, std::string_view label) {
  AppendChecksum(command);
  AppendLabel(command, label);
  out.Lines.push_back(std::move(command));
}

// A list's line: the selected item's value, as its text shows it.
void Selected(RemoteListing& out, const NumericField& list, int item) {
  if (item < 0 || static_cast<std::size_t>(item) >= list.Codes.size()) {
    out.Lines.push_back(Refusal(list.Message));
    return;
  }
  Finish(out, "#C" + std::string(list.Mnemonic) + '[' +
                  std::to_string(list.Codes[static_cast<std::size_t>(item)] * list.ItemScale) + ']',
         list.ListingLabel);
}

// A condition's line: its edit boxes, each first by the digit check and then by the bounds
// the panel states (the width is no concern here), then the code. The first refused field
// gives the line and is recorded to be emptied.
void Group(RemoteListing& out, const ConfigPanelValues& v, Condition c) {
  const ConditionField& group = FieldOf(c);
  std::string command = "#C" + std::string(group.Mnemonic) + '[';
  for (const ConfigEdit e : AllConfigEdits) {
    const NumericField& f = FieldOf(e);
    if (f.Group != c) continue;
    const std::string& text = v[e];
    if (!IsAllDigits(text) || DecimalValue(text) < f.WriteMin || DecimalValue(text) > f.WriteMax) {
      out.Lines.push_back(Refusal(f.ListingRefusalName()));
      out.Emptied.push_back(e);
      return;
    }
    command += text;  // as typed, leading zeros kept
    command += ',';
  }
  Finish(out, command + TwoDigits(CodeOf(v.Choices, c)) + ']', group.Label);
}

}  // namespace

void AppendChecksum(std::string& command) {
  if (command.empty()) return;
  std::uint8_t x = 0;
  for (const char c : command) x ^= static_cast<std::uint8_t>(c);
  constexpr char hex[] = "0123456789ABCDEF";
  command += hex[x >> 4];
  command += hex[x & 0x0F];
}

void AppendLabel(std::string& line, std::string_view label) {
  if (line.size() < RemoteLabelColumn) line.append(RemoteLabelColumn - line.size(), '_');
  line += label;
}

RemoteListing ListRemoteCommands(const ConfigPanelValues& v) {
  RemoteListing out;
  out.Lines.emplace_back("Comandos de configuração remota:");
  for (std::size_t i = 0; i < ConfigListCount; ++i)
    if (!ListFields()[i].Mnemonic.empty()) Selected(out, ListFields()[i], v.Item(i));
  for (std::size_t i = 0; i < ConditionCount; ++i) Group(out, v, static_cast<Condition>(i));
  return out;
}
