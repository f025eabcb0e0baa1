#include "config/panel_values.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ConfigPanelValues Defaults() { return PanelValuesOf(DefaultConfig()); }

}  // namespace

TEST(ConfigPanelValues, IsAllDigits) {
  for (const char* text : {"0", "7", "090", "1234567890", "99999999999999999999"}) EXPECT_TRUE(IsAllDigits(text)) << text;
  for (const char* text : {"", "-5", "+5", " 5", "5 ", "1.5", "12a", "0x1", "\xd9\xa3" /* Arabic-Indic 3 */})
    EXPECT_FALSE(IsAllDigits(text)) << text;
  EXPECT_FALSE(IsAllDigits(std::string("1\0" "2", 3)));
}

TEST(ConfigPanelValues, DecimalValueSaturates) {
  EXPECT_EQ(DecimalValue("0"), 0u);
  EXPECT_EQ(DecimalValue("090"), 90u);
  EXPECT_EQ(DecimalValue("4294967295"), 4294967295u);
  EXPECT_EQ(DecimalValue("4294967296"), 4294967295u);
  EXPECT_EQ(DecimalValue("99999999999"), 4294967295u);
  EXPECT_EQ(DecimalValue("00000000000000000000012"), 12u);
}

TEST(ConfigPanelValues, StockRecordsPassBack) {
  for (const ConfigRecord* r : {&DefaultConfig(), &VentoraPreset()}) {
    const PanelCheck check = CheckConfigPanel(PanelValuesOf(*r));
    ASSERT_TRUE(check.record.has_value()) << check.message;
    EXPECT_EQ(*check.record, *r);
    EXPECT_FALSE(check.failedEdit.has_value());
  }
}

// Each field alone: texts that pass and texts that are refused with its message.
TEST(ConfigPanelValues, EachFieldsBounds) {
  using E = ConfigEdit;
  struct Case {
    ConfigEdit edit;
    std::vector<const char*> pass;
    std::vector<const char*> refuse;
    const char* message;
  };
  const std::vector<Case> cases = {
      {E::ACP, {"0", "11", "255", "007"}, {"", "-5", " 5", "1.5", "256", "999", "99999999999"},
       "Parâmetro inválido!\r\n[Aceleração]"},
      {E::ACN, {"0", "255"}, {"256", "x"}, "Parâmetro inválido!\r\n[Desaceleração]"},
      {E::VMX, {"0", "150", "090"}, {"151", "", "99999999999"}, "Parâmetro inválido!\r\n[Velocidade]"},
      {E::TVMX, {"0", "60"}, {"61"}, "Parâmetro inválido!\r\n[Tempo validação Velocidade]"},
      {E::VCH, {"0", "150"}, {"151"}, "Parâmetro inválido!\r\n[Velocidade na Chuva]"},
      {E::TVCH, {"60"}, {"61"}, "Parâmetro inválido!\r\n[Tempo validação Velocidade na Chuva]"},
      {E::RPX, {"1000", "9999", "65535"}, {"999", "0", "65536"}, "Parâmetro inválido!\r\n[Rotação do Motor]"},
      {E::TRPX, {"0", "60"}, {"61"}, "Parâmetro inválido!\r\n[Tempo validação Rotação]"},
      {E::TOSC, {"1", "99", "255"}, {"0", "256"}, "Parâmetro inválido!\r\n[Tempo osciosidade]"},
      {E::XOSC, {"0", "60"}, {"61"}, "Parâmetro inválido!\r\n[Tempo excessão manobra]"},
      {E::VBGL, {"1", "255"}, {"0", "256"}, "Parâmetro inválido!\r\n[Velocidade min. Banguela]"},
      {E::RBGL, {"300", "1000"}, {"299", "1001", "1500"}, "Parâmetro inválido!\r\n[Rotação max. Banguela]"},
      {E::TBGL, {"0", "30"}, {"31"}, "Parâmetro inválido!\r\n[Tempo validação Banguela]"},
  };
  ASSERT_EQ(cases.size(), ConfigEditCount);
  for (const Case& c : cases) {
    for (const char* text : c.pass) {
      ConfigPanelValues v = Defaults();
      v[c.edit] = text;
      const PanelCheck check = CheckConfigPanel(v);
      EXPECT_TRUE(check.record.has_value()) << text << " " << c.message;
    }
    for (const char* text : c.refuse) {
      ConfigPanelValues v = Defaults();
      v[c.edit] = text;
      const PanelCheck check = CheckConfigPanel(v);
      EXPECT_FALSE(check.record.has_value()) << text;
      EXPECT_EQ(check.failedEdit, c.edit) << text;
      EXPECT_EQ(check.message, c.message) << text;
    }
  }
}

TEST(ConfigPanelValues, ValuesReachTheRecord) {
  ConfigPanelValues v = Defaults();
  v[ConfigEdit::VMX] = "090";
  v[ConfigEdit::RPX] = "65535";
  v[ConfigEdit::ACP] = "255";
  v.PingItem = 0, v.A232Item = 2, v.B232Item = 3;
  v.Choices.OSC = {.BZ_IN = false, .BZ_OUT = false, .BZ_WH = true, .EV_IN = false, .EV_OUT = true};
  v.Choices.BZ_ACN = false;
  const PanelCheck check = CheckConfigPanel(v);
  ASSERT_TRUE(check.record.has_value());
  EXPECT_EQ(check.record->VMX, 90);
  EXPECT_EQ(check.record->RPX, 65535);
  EXPECT_EQ(check.record->ACP, 255);
  EXPECT_EQ(check.record->PING, 5);
  EXPECT_EQ(check.record->A232, 576);
  EXPECT_EQ(check.record->B232, 1152);
  EXPECT_EQ(check.record->OSC_Alerts, v.Choices.OSC);
  EXPECT_FALSE(check.record->BZ_ACN);
  EXPECT_EQ(PanelValuesOf(*check.record).Choices, v.Choices);
}

TEST(ConfigPanelValues, FirstFailureWins) {
  ConfigPanelValues v = Defaults();
  v[ConfigEdit::ACN] = "x";
  v[ConfigEdit::VMX] = "151";
  v.PingItem = -1;
  PanelCheck check = CheckConfigPanel(v);
  EXPECT_EQ(check.failedEdit, ConfigEdit::ACN);
  EXPECT_EQ(check.message, "Parâmetro inválido!\r\n[Desaceleração]");

  // Lists are checked after every edit box, in the order PING, RS232-A, RS232-B.
  v = Defaults();
  v[ConfigEdit::TBGL] = "31";
  v.PingItem = -1;
  EXPECT_EQ(CheckConfigPanel(v).failedEdit, ConfigEdit::TBGL);
  struct Lists {
    int ping, a, b;
    const char* message;
  };
  for (const Lists& l : {Lists{-1, -1, -1, "Parâmetro inválido!\r\n[PING]"},
                         Lists{10, 3, 1, "Parâmetro inválido!\r\n[PING]"},
                         Lists{8, -1, -1, "Parâmetro inválido!\r\n[RS232-A]"},
                         Lists{8, 4, 1, "Parâmetro inválido!\r\n[RS232-A]"},
                         Lists{8, 3, -1, "Parâmetro inválido!\r\n[RS232-B]"}}) {
    v = Defaults();
    v.PingItem = l.ping, v.A232Item = l.a, v.B232Item = l.b;
    check = CheckConfigPanel(v);
    EXPECT_FALSE(check.record.has_value());
    EXPECT_FALSE(check.failedEdit.has_value());
    EXPECT_EQ(check.message, l.message);
  }
}
