#include "config/panel_values.h"

// Std
#include <limits>

namespace {

struct WriteRule {
  std::uint32_t min;
  std::uint32_t max;  // also what the field's width in the image can hold
  const char* message;
};

constexpr std::uint32_t Byte = 0xFF;
constexpr std::uint32_t Word = 0xFFFF;

// By ConfigEdit. ACP, ACN and VBGL are one byte in the image: larger values are refused
// rather than written as another number.
constexpr std::array<WriteRule, ConfigEditCount> WriteRules{{
    {0, Byte, "Parâmetro inválido!\r\n[Aceleração]"},
    {0, Byte, "Parâmetro inválido!\r\n[Desaceleração]"},
    {0, 150, "Parâmetro inválido!\r\n[Velocidade]"},
    {0, 60, "Parâmetro inválido!\r\n[Tempo validação Velocidade]"},
    {0, 150, "Parâmetro inválido!\r\n[Velocidade na Chuva]"},
    {0, 60, "Parâmetro inválido!\r\n[Tempo validação Velocidade na Chuva]"},
    {1000, Word, "Parâmetro inválido!\r\n[Rotação do Motor]"},
    {0, 60, "Parâmetro inválido!\r\n[Tempo validação Rotação]"},
    {1, Byte, "Parâmetro inválido!\r\n[Tempo osciosidade]"},
    {0, 60, "Parâmetro inválido!\r\n[Tempo excessão manobra]"},
    {1, Byte, "Parâmetro inválido!\r\n[Velocidade min. Banguela]"},
    {300, 1000, "Parâmetro inválido!\r\n[Rotação max. Banguela]"},
    {0, 30, "Parâmetro inválido!\r\n[Tempo validação Banguela]"},
}};

constexpr std::size_t At(ConfigEdit e) { return static_cast<std::size_t>(e); }

template <std::size_t N>
bool ValidItem(int item, const std::array<std::uint16_t, N>&) {
  return item >= 0 && static_cast<std::size_t>(item) < N;
}

std::string Decimal(unsigned value) { return std::to_string(value); }

}  // namespace

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
  std::array<std::uint32_t, ConfigEditCount> n{};
  for (const ConfigEdit e : AllConfigEdits) {
    const WriteRule& rule = WriteRules[At(e)];
    const std::string& text = v[e];
    bool ok = IsAllDigits(text);
    if (ok) {
      n[At(e)] = DecimalValue(text);
      ok = n[At(e)] >= rule.min && n[At(e)] <= rule.max;
    }
    if (!ok) {
      out.failedEdit = e;
      out.message = rule.message;
      return out;
    }
  }
  // A list with nothing selected cannot be encoded.
  if (!ValidItem(v.PingItem, PingTable)) {
    out.message = "Parâmetro inválido!\r\n[PING]";
    return out;
  }
  if (!ValidItem(v.A232Item, BaudTable)) {
    out.message = "Parâmetro inválido!\r\n[RS232-A]";
    return out;
  }
  if (!ValidItem(v.B232Item, BaudTable)) {
    out.message = "Parâmetro inválido!\r\n[RS232-B]";
    return out;
  }

  const auto u8 = [&n](ConfigEdit e) { return static_cast<std::uint8_t>(n[At(e)]); };
  const auto u16 = [&n](ConfigEdit e) { return static_cast<std::uint16_t>(n[At(e)]); };
  ConfigRecord r;
  r.PING = PingTable[static_cast<std::size_t>(v.PingItem)];
  r.A232 = BaudTable[static_cast<std::size_t>(v.A232Item)];
  r.B232 = BaudTable[static_cast<std::size_t>(v.B232Item)];
  r.ACP = u8(ConfigEdit::ACP);
  r.ACN = u8(ConfigEdit::ACN);
  r.BZ_ACP = v.Choices.BZ_ACP, r.EV_ACP = v.Choices.EV_ACP;
  r.BZ_ACN = v.Choices.BZ_ACN, r.EV_ACN = v.Choices.EV_ACN;
  r.VMX = u8(ConfigEdit::VMX), r.TVMX = u8(ConfigEdit::TVMX), r.VMX_Alerts = v.Choices.VMX;
  r.VCH = u8(ConfigEdit::VCH), r.TVCH = u8(ConfigEdit::TVCH), r.VCH_Alerts = v.Choices.VCH;
  r.RPX = u16(ConfigEdit::RPX), r.TRPX = u8(ConfigEdit::TRPX), r.RPX_Alerts = v.Choices.RPX;
  r.TOSC = u8(ConfigEdit::TOSC), r.XOSC = u8(ConfigEdit::XOSC), r.OSC_Alerts = v.Choices.OSC;
  r.VBGL = u8(ConfigEdit::VBGL), r.RBGL = u16(ConfigEdit::RBGL), r.TBGL = u8(ConfigEdit::TBGL);
  r.BGL_Alerts = v.Choices.BGL;
  out.record = r;
  return out;
}

ConfigPanelValues PanelValuesOf(const ConfigRecord& r) {
  ConfigPanelValues v;
  v.PingItem = PingIndex(r.PING);
  v.A232Item = BaudIndex(r.A232);
  v.B232Item = BaudIndex(r.B232);
  v[ConfigEdit::ACP] = Decimal(r.ACP);
  v[ConfigEdit::ACN] = Decimal(r.ACN);
  v[ConfigEdit::VMX] = Decimal(r.VMX);
  v[ConfigEdit::TVMX] = Decimal(r.TVMX);
  v[ConfigEdit::VCH] = Decimal(r.VCH);
  v[ConfigEdit::TVCH] = Decimal(r.TVCH);
  v[ConfigEdit::RPX] = Decimal(r.RPX);
  v[ConfigEdit::TRPX] = Decimal(r.TRPX);
  v[ConfigEdit::TOSC] = Decimal(r.TOSC);
  v[ConfigEdit::XOSC] = Decimal(r.XOSC);
  v[ConfigEdit::VBGL] = Decimal(r.VBGL);
  v[ConfigEdit::RBGL] = Decimal(r.RBGL);
  v[ConfigEdit::TBGL] = Decimal(r.TBGL);
  v.Choices.BZ_ACP = r.BZ_ACP, v.Choices.EV_ACP = r.EV_ACP;
  v.Choices.BZ_ACN = r.BZ_ACN, v.Choices.EV_ACN = r.EV_ACN;
  v.Choices.VMX = r.VMX_Alerts;
  v.Choices.VCH = r.VCH_Alerts;
  v.Choices.RPX = r.RPX_Alerts;
  v.Choices.OSC = r.OSC_Alerts;
  v.Choices.BGL = r.BGL_Alerts;
  return v;
}
