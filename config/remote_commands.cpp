#include "config/remote_commands.h"

// Std
#include <cstdint>
#include <initializer_list>

namespace {

constexpr std::uint32_t NoBound = 0xFFFFFFFF;

// One checked field of a command: digits only, then min <= value <= max.
struct ListedField {
  ConfigEdit edit;
  std::uint32_t min;
  std::uint32_t max;
  const char* failure;
};

std::string TwoDigits(unsigned code) {
  std::string s = std::to_string(code);
  if (s.size() < 2) s.insert(0, 2 - s.size(), '0');
  return s;
}

unsigned CodeOf(const AlertChoices& c) { return AlertEventCode(c); }
unsigned CodeOf(bool buzzer, bool event) { return AlertEventCode(buzzer, event); }

// A group's line: its command with checksum and label, or the first failing field's line
// (that field is recorded to be emptied).
void Group(RemoteListing& out, const ConfigPanelValues& v, std::string_view mnemonic,
           std::initializer_list<ListedField> fields, unsigned code, std::string_view label) {
  std::string command = "#C";
  command += mnemonic;
  command += '[';
  for (const ListedField& f : fields) {
    const std::string& text = v[f.edit];
    if (!IsAllDigits(text) || DecimalValue(text) < f.min || DecimalValue(text) > f.max) {
      out.Lines.emplace_back(f.failure);
      out.Emptied.push_back(f.edit);
      return;
    }
    command += text;  // as typed, leading zeros kept
    command += ',';
  }
  command += TwoDigits(code);
  command += ']';
  AppendChecksum(command);
  AppendLabel(command, label);
  out.Lines.push_back(std::move(command));
}

void Selected(RemoteListing& out, std::string_view mnemonic, int item, const std::uint16_t* table,
              std::size_t size, unsigned scale, const char* failure, std::string_view label) {
  if (item < 0 || static_cast<std::size_t>(item) >= size) {
    out.Lines.emplace_back(failure);
    return;
  }
  std::string command = "#C";
  command += mnemonic;
  command += '[' + std::to_string(table[item] * scale) + ']';
  AppendChecksum(command);
  AppendLabel(command, label);
  out.Lines.push_back(std::move(command));
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
  using E = ConfigEdit;
  const PanelChoices& c = v.Choices;
  RemoteListing out;
  out.Lines.emplace_back("Comandos de configuração remota:");
  Selected(out, "PI", v.PingItem, PingTable.data(), PingTable.size(), 1, "Parâmetro inválido! [PING]", "PING");
  Selected(out, "BR", v.B232Item, BaudTable.data(), BaudTable.size(), 100, "Parâmetro inválido! [RS232-B]",
           "RS232-B");
  Group(out, v, "ACP", {{E::ACP, 0, NoBound, "Parâmetro inválido! [Aceleração]"}}, CodeOf(c.BZ_ACP, c.EV_ACP),
        "Aceleração");
  Group(out, v, "ACN", {{E::ACN, 0, NoBound, "Parâmetro inválido! [Desaceleração]"}}, CodeOf(c.BZ_ACN, c.EV_ACN),
        "Desaceleração");
  Group(out, v, "VMX",
        {{E::VMX, 0, 150, "Parâmetro inválido! [Velocidade]"},
         {E::TVMX, 0, 60, "Parâmetro inválido! [Tempo validação Velocidade]"}},
        CodeOf(c.VMX), "Velocidade");
  Group(out, v, "VCH",
        {{E::VCH, 0, 150, "Parâmetro inválido! [Velocidade na Chuva]"},
         {E::TVCH, 0, 60, "Parâmetro inválido! [Tempo validação Velocidade na Chuva]"}},
        CodeOf(c.VCH), "Velocidade na chuva");
  Group(out, v, "RPX",
        {{E::RPX, 1000, NoBound, "Parâmetro inválido! [Rotação do Motor]"},
         {E::TRPX, 0, 60, "Parâmetro inválido! [Tempo validação Rotação]"}},
        CodeOf(c.RPX), "Rotação do motor");
  Group(out, v, "OCS",
        {{E::TOSC, 1, NoBound, "Parâmetro inválido! [Tempo ociosidade]"},
         {E::XOSC, 0, 60, "Parâmetro inválido! [Tempo excessão manobra]"}},
        CodeOf(c.OSC), "Ociosidade do motor");
  Group(out, v, "BGL",
        {{E::VBGL, 1, NoBound, "Parâmetro inválido! [Velocidade min. Banguela]"},
         {E::RBGL, 300, 1000, "Parâmetro inválido! [Rotação max. Banguela]"},
         {E::TBGL, 0, 30, "Parâmetro inválido! [Tempo validação Banguela]"}},
        CodeOf(c.BGL), "Banguela");
  return out;
}
