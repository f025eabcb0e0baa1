#include "config/remote_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

ConfigPanelValues Defaults() { return PanelValuesOf(DefaultConfig()); }

std::string Line(const ConfigPanelValues& v, std::size_t i) { return ListRemoteCommands(v).Lines.at(i); }

constexpr std::size_t VmxLine = 5, VchLine = 6, RpxLine = 7, OscLine = 8, BglLine = 9;

}  // namespace

TEST(RemoteCommands, ChecksumAndLabel) {
  std::string s;
  AppendChecksum(s);
  EXPECT_EQ(s, "");
  s = "#CPI[30]";
  AppendChecksum(s);
  EXPECT_EQ(s, "#CPI[30]7C");
  s = "\xff";  // high bytes count as unsigned
  AppendChecksum(s);
  EXPECT_EQ(s, "\xff" "FF");
  s = "#";
  AppendChecksum(s);
  EXPECT_EQ(s, "#23");

  s = "#CPI[30]7C";
  AppendLabel(s, "PING");
  EXPECT_EQ(s, "#CPI[30]7C_______________PING");
  s = std::string(24, 'x');
  AppendLabel(s, "L");
  EXPECT_EQ(s, std::string(24, 'x') + "_L");
  s = std::string(30, 'x');  // too long already: no padding
  AppendLabel(s, "L");
  EXPECT_EQ(s, std::string(30, 'x') + "L");
}

TEST(RemoteCommands, WorkedLines) {
  ConfigPanelValues v = Defaults();
  v.PingItem = 3;   // 30 s
  v.B232Item = 1;   // 19200
  v[ConfigEdit::VMX] = "120";
  v[ConfigEdit::TVMX] = "5";
  v.Choices.VMX = {.BZ_IN = true, .BZ_OUT = true, .BZ_WH = false, .EV_IN = true, .EV_OUT = false};
  v.Choices.BGL = {};
  const RemoteListing l = ListRemoteCommands(v);
  ASSERT_EQ(l.Lines.size(), 10u);
  EXPECT_EQ(l.Lines[0], "Comandos de configuração remota:");
  EXPECT_EQ(l.Lines[1], "#CPI[30]7C_______________PING");
  EXPECT_EQ(l.Lines[2], "#CBR[19200]4C____________RS232-B");
  EXPECT_EQ(l.Lines[VmxLine], "#CVMX[120,5,31]21________Velocidade");
  EXPECT_EQ(l.Lines[BglLine], "#CBGL[40,900,5,00]0B_____Banguela");
  EXPECT_TRUE(l.Emptied.empty());
}

TEST(RemoteCommands, DefaultsListEveryGroup) {
  const Lines expected = {
      "Comandos de configuração remota:",
      "#CPI[180]46______________PING",
      "#CBR[19200]4C____________RS232-B",
      "#CACP[11,11]18___________Aceleração",
      "#CACN[11,11]06___________Desaceleração",
      "#CVMX[120,5,11]23________Velocidade",
      "#CVCH[90,5,11]07_________Velocidade na chuva",
      "#CRPX[4500,5,11]08_______Rotação do motor",
      "#COCS[6,7,11]38__________Ociosidade do motor",
      "#CBGL[40,900,5,11]0B_____Banguela",
  };
  EXPECT_EQ(ListRemoteCommands(Defaults()).Lines, expected);
}

TEST(RemoteCommands, FreshWindowListsNineFailures) {
  const RemoteListing l = ListRemoteCommands(ConfigPanelValues{});
  const Lines expected = {
      "Comandos de configuração remota:",
      "Parâmetro inválido! [PING]",
      "Parâmetro inválido! [RS232-B]",
      "Parâmetro inválido! [Aceleração]",
      "Parâmetro inválido! [Desaceleração]",
      "Parâmetro inválido! [Velocidade]",
      "Parâmetro inválido! [Velocidade na Chuva]",
      "Parâmetro inválido! [Rotação do Motor]",
      "Parâmetro inválido! [Tempo ociosidade]",
      "Parâmetro inválido! [Velocidade min. Banguela]",
  };
  EXPECT_EQ(l.Lines, expected);
  using E = ConfigEdit;
  EXPECT_EQ(l.Emptied, (std::vector<ConfigEdit>{E::ACP, E::ACN, E::VMX, E::VCH, E::RPX, E::TOSC, E::VBGL}));
}

TEST(RemoteCommands, AlertCodes) {
  struct Case {
    AlertChoices choices;
    const char* code;
  };
  const Case cases[] = {
      {{.BZ_IN = false, .BZ_OUT = false, .BZ_WH = true, .EV_IN = true, .EV_OUT = true}, "43"},
      {{.BZ_IN = true, .BZ_OUT = true, .BZ_WH = false, .EV_IN = true, .EV_OUT = false}, "31"},
      {{}, "00"},
      {{.BZ_IN = false, .BZ_OUT = false, .BZ_WH = false, .EV_IN = false, .EV_OUT = true}, "02"},
      // The listing applies no rule of its own.
      {{.BZ_IN = true, .BZ_OUT = true, .BZ_WH = true, .EV_IN = true, .EV_OUT = true}, "73"},
  };
  for (const Case& c : cases) {
    ConfigPanelValues v = Defaults();
    v.Choices.RPX = c.choices;
    const std::string line = Line(v, RpxLine);
    EXPECT_EQ(line.substr(0, line.find(']') + 1), std::string("#CRPX[4500,5,") + c.code + "]");
  }
  ConfigPanelValues v = Defaults();
  for (const auto& [bz, ev, code] : {std::tuple{false, false, "00"}, std::tuple{false, true, "01"},
                                     std::tuple{true, false, "10"}, std::tuple{true, true, "11"}}) {
    v.Choices.BZ_ACN = bz, v.Choices.EV_ACN = ev;
    EXPECT_EQ(Line(v, 4).substr(0, 12), std::string("#CACN[11,") + code + "]");
  }
}

// Each field's bounds in the listing; the failure empties that box only.
TEST(RemoteCommands, FieldBounds) {
  using E = ConfigEdit;
  struct Case {
    ConfigEdit edit;
    std::size_t line;
    std::vector<const char*> listed;
    std::vector<const char*> refused;
    const char* failure;
  };
  const std::vector<Case> cases = {
      {E::ACP, 3, {"0", "999", "007"}, {"", "-5", " 5", "12a"}, "Parâmetro inválido! [Aceleração]"},
      {E::ACN, 4, {"0", "999"}, {"1.5"}, "Parâmetro inválido! [Desaceleração]"},
      {E::VMX, VmxLine, {"0", "150", "080"}, {"151", "99999999999"}, "Parâmetro inválido! [Velocidade]"},
      {E::TVMX, VmxLine, {"60"}, {"61"}, "Parâmetro inválido! [Tempo validação Velocidade]"},
      {E::VCH, VchLine, {"150"}, {"151"}, "Parâmetro inválido! [Velocidade na Chuva]"},
      {E::TVCH, VchLine, {"60"}, {"61"}, "Parâmetro inválido! [Tempo validação Velocidade na Chuva]"},
      {E::RPX, RpxLine, {"1000", "99999"}, {"999"}, "Parâmetro inválido! [Rotação do Motor]"},
      {E::TRPX, RpxLine, {"60"}, {"61"}, "Parâmetro inválido! [Tempo validação Rotação]"},
      {E::TOSC, OscLine, {"1", "999"}, {"0"}, "Parâmetro inválido! [Tempo ociosidade]"},
      {E::XOSC, OscLine, {"60"}, {"61"}, "Parâmetro inválido! [Tempo excessão manobra]"},
      {E::VBGL, BglLine, {"1", "300"}, {"0"}, "Parâmetro inválido! [Velocidade min. Banguela]"},
      {E::RBGL, BglLine, {"300", "1000"}, {"299", "1001"}, "Parâmetro inválido! [Rotação max. Banguela]"},
      {E::TBGL, BglLine, {"30"}, {"31"}, "Parâmetro inválido! [Tempo validação Banguela]"},
  };
  for (const Case& c : cases) {
    for (const char* text : c.listed) {
      ConfigPanelValues v = Defaults();
      v[c.edit] = text;
      const RemoteListing l = ListRemoteCommands(v);
      EXPECT_NE(l.Lines.at(c.line).find(std::string(text) + ","), std::string::npos) << text;
      EXPECT_TRUE(l.Emptied.empty()) << text;
    }
    for (const char* text : c.refused) {
      ConfigPanelValues v = Defaults();
      v[c.edit] = text;
      const RemoteListing l = ListRemoteCommands(v);
      EXPECT_EQ(l.Lines.at(c.line), c.failure) << text;
      EXPECT_EQ(l.Emptied, std::vector<ConfigEdit>{c.edit}) << text;
      EXPECT_EQ(l.Lines.size(), 10u);
    }
  }
}

TEST(RemoteCommands, FailingSpeedLeavesTheTimeAlone) {
  ConfigPanelValues v = Defaults();
  v[ConfigEdit::VMX] = "151";
  v[ConfigEdit::TVMX] = "x";
  const RemoteListing l = ListRemoteCommands(v);
  EXPECT_EQ(l.Lines[VmxLine], "Parâmetro inválido! [Velocidade]");
  EXPECT_EQ(l.Emptied, std::vector<ConfigEdit>{ConfigEdit::VMX});
}

TEST(RemoteCommands, LeadingZerosKeptAndChecksummed) {
  ConfigPanelValues v = Defaults();
  v[ConfigEdit::ACP] = "007";
  v.Choices.BZ_ACP = false;
  std::string command = "#CACP[007,01]";
  AppendChecksum(command);
  AppendLabel(command, "Aceleração");
  EXPECT_EQ(Line(v, 3), command);
  // Every listed command has its label at the 26th character.
  for (const std::string& line : ListRemoteCommands(Defaults()).Lines)
    if (line.starts_with("#C")) {
      ASSERT_GT(line.size(), RemoteLabelColumn) << line;
      EXPECT_EQ(line[RemoteLabelColumn - 1], '_') << line;
      EXPECT_NE(line[RemoteLabelColumn], '_') << line;
    }
}
