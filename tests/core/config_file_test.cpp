// Configuration files: the text written for a record, and every refusal of a file read back.
// (zpictl's own test runs a few bad files through the program; the small cases are here.)
#include "config/config_file.h"
#include "config/config_fields.h"
#include "config/panel_values.h"
#include "support/random_record.h"

#include <gtest/gtest.h>

// Std
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string& DefaultText() {
  static const std::string text = ConfigFileText(DefaultConfig());
  return text;
}

// The default file with one key's value replaced: `"KEY": old` becomes `"KEY": value`.
std::string With(const std::string& key, const std::string& value) {
  std::string text = DefaultText();
  const std::string name = "\"" + key + "\": ";
  const auto from = text.find(name) + name.size();
  return text.replace(from, text.find_first_of(",\n", from) - from, value);
}

std::string Errors(const ConfigFileResult& r) {
  std::string all;
  for (const std::string& e : r.errors) all += e + "\n";
  return all;
}

// The fields in image order, then the choices, as the record names them.
TEST(ConfigFile, TheTextOfTheDefaults) {
  const std::string& text = DefaultText();
  EXPECT_TRUE(text.starts_with("{\n  \"format\": 1,\n  \"PING\": 180,\n  \"A232\": 115200,\n  \"B232\": 19200,\n"
                               "  \"ACP\": 11,\n  \"ACN\": 11,\n  \"VMX\": 120,\n"))
      << text;
  EXPECT_NE(text.find("  \"TBGL\": 5,\n  \"BZ_ACP\": true,\n"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("  \"BZ_BGL_WH\": false,\n  \"EV_BGL_IN\": true,\n  \"EV_BGL_OUT\": false\n}\n")) << text;
}

TEST(ConfigFile, RecordsThatPassAWriteComeBackTheSame) {
  std::vector<ConfigRecord> records{DefaultConfig(), VentoraPreset()};
  std::mt19937 rng(15);
  for (int i = 0; i < 100; ++i) records.push_back(RandomRecord(rng));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const ConfigFileResult back = ParseConfigFile(ConfigFileText(records[i]));
    ASSERT_TRUE(back.record) << i << ": " << Errors(back);
    ASSERT_EQ(*back.record, records[i]) << i;
  }
  // The keys in any order, spaced any way.
  std::string reordered = "{";
  for (auto f = NumericFields.rbegin(); f != NumericFields.rend(); ++f)
    reordered += "\"" + std::string(f->Name) + "\":" +
                 std::to_string(f->Member.Get(DefaultConfig()) * (f->IsList() ? f->ItemScale : 1)) + " ,\t";
  for (const ChoiceField& box : ChoiceFields)
    reordered += "\"" + std::string(box.Name) + "\": " + (ChoiceIn(DefaultConfig(), box) ? "true" : "false") + ",\n";
  reordered += "\"format\": 1}";
  const ConfigFileResult back = ParseConfigFile(reordered);
  ASSERT_TRUE(back.record) << Errors(back);
  EXPECT_EQ(*back.record, DefaultConfig());
}

// Whatever a record holds, its file is accepted exactly when the panel would write it, RS232-A
// is at the one rate a read accepts and no buzzer "during" comes with its entry or exit.
TEST(ConfigFile, AcceptsWhatThePanelWrites) {
  std::mt19937 rng(46);
  int accepted = 0, refused = 0;
  for (int i = 0; i < 600; ++i) {
    // A record that passes, then now and then a field with anything its width holds.
    ConfigRecord r = RandomRecord(rng);
    for (const NumericField& f : NumericFields) {
      if (rng() % 8 != 0) continue;
      const bool fromTable = f.IsList() && rng() % 2 != 0;
      f.Member.Set(r, fromTable ? f.Codes[rng() % f.Codes.size()] : rng() % (f.Member.Largest() + 1));
    }
    for (const ChoiceField& box : ChoiceFields)
      if (rng() % 16 == 0) ChoiceIn(r, box) = !ChoiceIn(r, box);
    bool interlocked = true;
    for (const AlertChoices* a : {&r.VMX_Alerts, &r.VCH_Alerts, &r.RPX_Alerts, &r.OSC_Alerts, &r.BGL_Alerts})
      interlocked &= !(a->BZ_WH && (a->BZ_IN || a->BZ_OUT));
    const bool panel = CheckConfigPanel(PanelValuesOf(r)).record.has_value();
    const ConfigFileResult file = ParseConfigFile(ConfigFileText(r));
    ASSERT_EQ(file.record.has_value(), panel && r.A232 == 1152 && interlocked) << i << ": " << Errors(file);
    if (file.record) {
      EXPECT_EQ(*file.record, r);
      ++accepted;
    } else {
      ++refused;
    }
  }
  EXPECT_GT(accepted, 60) << "both sides of the rule were tried";
  EXPECT_GT(refused, 60);
}

TEST(ConfigFile, EachRefusalNamesItsKey) {
  const struct {
    std::string text;
    std::string error;  // the only refusal
  } cases[] = {
      // Bounds and widths, with the panel's message.
      {With("RBGL", "1001"), "\"RBGL\" = 1001: Parâmetro inválido! [Rotação max. Banguela]"},
      {With("RBGL", "299"), "\"RBGL\" = 299: Parâmetro inválido! [Rotação max. Banguela]"},
      {With("TOSC", "0"), "\"TOSC\" = 0: Parâmetro inválido! [Tempo osciosidade]"},
      {With("ACP", "256"), "\"ACP\" = 256: Parâmetro inválido! [Aceleração]"},
      {With("RPX", "65536"), "\"RPX\" = 65536: Parâmetro inválido! [Rotação do Motor]"},
      {With("RPX", "4294967296"), "\"RPX\" = 4294967296: Parâmetro inválido! [Rotação do Motor]"},
      // Lists: seconds and baud, an entry of the list; RS232-A at one rate only.
      {With("PING", "7"), "\"PING\" = 7: Parâmetro inválido! [PING] (5, 10, 15, 30, 45, 60, 90, 120, 180, 300)"},
      {With("B232", "192"), "\"B232\" = 192: Parâmetro inválido! [RS232-B] (9600, 19200, 57600, 115200)"},
      {With("A232", "9600"), "\"A232\" = 9600: Parâmetro inválido! [RS232-A] (115200)"},
      // Types.
      {With("VMX", "-1"), "\"VMX\" must be a whole number, not a negative number"},
      {With("VMX", "-0"), "\"VMX\" must be a whole number, not a negative number"},
      {With("VMX", "1.5"), "\"VMX\" must be a whole number, not a number with a fraction or beyond any limit"},
      {With("VMX", "18446744073709551616"),
       "\"VMX\" must be a whole number, not a number with a fraction or beyond any limit"},
      {With("VMX", "true"), "\"VMX\" must be a whole number, not true or false"},
      {With("VMX", "null"), "\"VMX\" must be a whole number, not null"},
      {With("VMX", "[120]"), "\"VMX\" must be a whole number, not a list"},
      {With("VMX", "{\"value\": 120}"), "\"VMX\" must be a whole number, not an object"},
      {With("BZ_ACP", "1"), "\"BZ_ACP\" must be true or false, not a number"},
      {With("BZ_ACP", "\"true\""), "\"BZ_ACP\" must be true or false, not text"},
      // The format, looked at first.
      {With("format", "\"1\""), "unsupported format \"1\" (this zpictl reads format 1)"},
      {With("format", "1.0"), "unsupported format 1.0 (this zpictl reads format 1)"},
      {With("format", std::string(30000, '[') + std::string(30000, ']')),
       "unsupported format a list (this zpictl reads format 1)"},
      {"{}", "missing key \"format\" (this zpictl reads format 1)"},
      // What is no configuration names the line it stops at; a key is written as JSON writes it.
      {"[]", "not a configuration: the file must hold one JSON object, and its value on line 1 is a list"},
      {"\xEF\xBB\xBF\r\n\n \"x\"",
       "not a configuration: the file must hold one JSON object, and its value on line 3 is text"},
      {"{\"format\": 1,\n\"PING\": 1e999}",
       "not a JSON file: [json.exception.out_of_range.406] number overflow parsing '1e999', at line 2"},
      {"", "not a JSON file: *"},
      {std::string(DefaultText()).insert(2, "\"a\\n\\\"b\": 0, "), "unknown key \"a\\n\\\"b\""},
      // The buzzer "during" at exit too.
      {ConfigFileText([] {
         ConfigRecord r = DefaultConfig();
         r.RPX_Alerts = {.BZ_IN = false, .BZ_OUT = true, .BZ_WH = true};
         return r;
       }()),
       "\"BZ_RPX_WH\" and \"BZ_RPX_OUT\" are both true: the buzzer during a condition excludes it at entry and exit"},
  };
  for (const auto& c : cases) {
    const ConfigFileResult r = ParseConfigFile(c.text);
    EXPECT_FALSE(r.record) << c.error;
    ASSERT_EQ(r.errors.size(), 1u) << Errors(r);
    if (c.error.ends_with('*'))
      EXPECT_TRUE(r.errors[0].starts_with(c.error.substr(0, c.error.size() - 1))) << r.errors[0];
    else
      EXPECT_EQ(r.errors[0], c.error);
  }
}

TEST(ConfigFile, EveryRefusalIsReportedNotJustTheFirst) {
  const ConfigFileResult bare = ParseConfigFile("{\"format\": 1}");
  ASSERT_EQ(bare.errors.size(), NumericFields.size() + ChoiceFields.size());
  for (const NumericField& f : NumericFields)
    EXPECT_NE(Errors(bare).find("missing key \"" + std::string(f.Name) + "\"\n"), std::string::npos) << f.Name;
  for (const ChoiceField& box : ChoiceFields)
    EXPECT_NE(Errors(bare).find("missing key \"" + std::string(box.Name) + "\"\n"), std::string::npos) << box.Name;

  std::string several = With("TVMX", "61");
  several.insert(2, "\"EXTRA\": 0, \"TBGL\": 5, ");
  const ConfigFileResult r = ParseConfigFile(several);
  EXPECT_EQ(Errors(r),
            "key \"TBGL\" is given more than once\n"
            "unknown key \"EXTRA\"\n"
            "\"TVMX\" = 61: Parâmetro inválido! [Tempo validação Velocidade]\n");
}

TEST(ConfigFile, LoadingChecksThePathAndTheSize) {
  const std::string path = ::testing::TempDir() + "config_file_test.json";
  std::ofstream(path, std::ios::binary) << DefaultText();
  ConfigFileResult r = LoadConfigFile(path);
  ASSERT_TRUE(r.record) << Errors(r);
  EXPECT_EQ(*r.record, DefaultConfig());

  std::ofstream(path, std::ios::binary | std::ios::trunc) << DefaultText() << std::string(ConfigFileMaxSize, ' ');
  r = LoadConfigFile(path);
  EXPECT_EQ(Errors(r), path + " is larger than a configuration file can be (64 KiB)\n");
  std::remove(path.c_str());
  EXPECT_EQ(Errors(LoadConfigFile(path)), "cannot read " + path + "\n");
  EXPECT_EQ(Errors(LoadConfigFile(::testing::TempDir())), "cannot read " + ::testing::TempDir() + ": it is a directory\n");
}

}  // namespace
