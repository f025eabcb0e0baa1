// The field table's own consistency: what the codec, the checks and the panel take from it
// must add up (places, names, limits, stock values).
#include "config/config_fields.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

std::size_t Digits(std::uint32_t value) { return std::to_string(value).size(); }

}  // namespace

// Numbers and code bytes tile the image from 8 up to the checksum, in table order, each
// byte once.
TEST(ConfigFields, PlacesTileTheImageInOrder) {
  std::array<int, ConfigImageSize> owners{};
  std::size_t previous = 0;
  for (const NumericField& f : NumericFields) {
    EXPECT_GT(f.Offset, previous) << f.Name;
    previous = f.Offset;
    for (std::size_t i = 0; i < f.Member.Width(); ++i) ++owners.at(f.Offset + i);
  }
  previous = 0;
  for (const ConditionField& c : ConditionFields) {
    EXPECT_GT(c.CodeOffset, previous) << c.Name;
    previous = c.CodeOffset;
    ++owners.at(c.CodeOffset);
  }
  for (std::size_t at = 0; at < ConfigImageSize; ++at)
    EXPECT_EQ(owners[at], at >= ConfigFieldsBegin && at < 36 ? 1 : 0) << at;
  EXPECT_EQ(ConfigFieldsEnd, 36u);
}

// Each entry reaches its own member: setting one leaves every other alone, and clearing them
// all through the table leaves nothing of a stock record behind.
TEST(ConfigFields, EntriesReachEveryMemberOnce) {
  const ConfigRecord& stock = DefaultConfig();
  for (const NumericField& f : NumericFields) {
    ConfigRecord r = stock;
    f.Member.Set(r, f.Default + 1u);
    for (const NumericField& g : NumericFields)
      EXPECT_EQ(g.Member.Get(r), &g == &f ? f.Default + 1u : g.Member.Get(stock)) << f.Name << " " << g.Name;
  }
  for (const ChoiceField& box : ChoiceFields) {
    ConfigRecord r = stock;
    ChoiceIn(r, box) = !ChoiceIn(stock, box);
    for (const ChoiceField& other : ChoiceFields)
      EXPECT_EQ(ChoiceIn(r, other), ChoiceIn(stock, other) != (&other == &box)) << box.Name << " " << other.Name;
  }
  ConfigRecord cleared = stock;
  for (const NumericField& f : NumericFields) f.Member.Set(cleared, 0);
  for (const ChoiceField& box : ChoiceFields) ChoiceIn(cleared, box) = false;
  EXPECT_EQ(cleared, ConfigRecord{});
}

TEST(ConfigFields, NamesAndControls) {
  std::set<std::string_view> names;
  for (const NumericField& f : NumericFields) {
    EXPECT_TRUE(names.insert(f.Name).second) << f.Name;
    EXPECT_EQ(f.Control, std::string(f.IsList() ? "CB_" : "ED_") + std::string(f.Name));
    EXPECT_EQ(f.Spinner, f.IsList() ? std::string() : "UD_" + std::string(f.Name));
    EXPECT_EQ(FindNumericField(f.Name), &f);
  }
  for (const ConfigEdit e : AllConfigEdits) EXPECT_FALSE(FieldOf(e).IsList());
  for (const NumericField& f : ListFields()) EXPECT_TRUE(f.IsList()) << f.Name;
  // A box's name says its kind, condition and column; its weight must agree.
  for (const ChoiceField& box : ChoiceFields) {
    EXPECT_TRUE(names.insert(box.Name).second) << box.Name;
    EXPECT_EQ(box.Control, "CB_" + std::string(box.Name));
    const ConditionField& c = FieldOf(box.Group);
    std::string expected = (box.Kind == ChoiceKind::Buzzer ? "BZ_" : "EV_") + std::string(c.Name);
    if (c.InRecord.Alerts) expected += box.Weight == 1 ? "_IN" : box.Weight == 2 ? "_OUT" : "_WH";
    EXPECT_EQ(box.Name, expected);
    EXPECT_EQ(FindChoiceField(box.Name), &box);
  }
  EXPECT_EQ(FindNumericField("VMX_Alerts"), nullptr);
  EXPECT_EQ(FindChoiceField("BZ_EBK_IN"), nullptr);
}

// What a spinner writes and what a write accepts can be typed; the spinner's values fit the
// field's width.
TEST(ConfigFields, TextLimitsHoldWhatTheBoxMustTake) {
  for (const NumericField& f : EditFields()) {
    SCOPED_TRACE(f.Name);
    EXPECT_LE(Digits(f.SpinMax), static_cast<std::size_t>(f.TextLimit));
    EXPECT_LE(Digits(f.WriteMin), static_cast<std::size_t>(f.TextLimit));
    if (f.WriteMax != NoUpperBound) {
      EXPECT_LE(Digits(f.WriteMax), static_cast<std::size_t>(f.TextLimit));
    }
    EXPECT_LE(static_cast<std::uint32_t>(f.SpinMax), f.Member.Largest());
    EXPECT_LE(f.SpinMin, f.SpinStartPosition());
    EXPECT_LE(f.SpinStartPosition(), f.SpinMax);
    EXPECT_LE(f.WriteMin, WriteLimit(f));
  }
}

// The stock values pass the write checks, and their codes are digits a read accepts.
TEST(ConfigFields, StockValuesPassTheWriteChecks) {
  for (const NumericField& f : NumericFields) {
    EXPECT_TRUE(WriteAccepts(f, f.Default)) << f.Name;
    EXPECT_TRUE(WriteAccepts(f, f.Preset)) << f.Name;
    if (f.OnlyCode) {
      EXPECT_EQ(f.Default, f.OnlyCode);
      EXPECT_EQ(f.Preset, f.OnlyCode);
    }
  }
  for (const ConfigRecord* r : {&DefaultConfig(), &VentoraPreset()})
    for (std::size_t i = 0; i < ConditionCount; ++i) {
      const unsigned code = CodeOf(*r, static_cast<Condition>(i));
      EXPECT_LE(code / 10, ConditionFields[i].BuzzerDigitMax);
      EXPECT_LE(code % 10, ConditionFields[i].EventDigitMax);
    }
  // Lists take a code of their table; edit boxes a number within bounds and width.
  const NumericField& ping = *FindNumericField("PING");
  EXPECT_TRUE(WriteAccepts(ping, 300));
  EXPECT_FALSE(WriteAccepts(ping, 301));
  for (const NumericField& list : ListFields()) {
    for (std::size_t i = 0; i < list.Codes.size(); ++i) EXPECT_EQ(CodeIndex(list, list.Codes[i]), static_cast<int>(i));
    for (const std::uint32_t miss : {0u, 6u, 301u, 9600u, 65536u}) EXPECT_EQ(CodeIndex(list, miss), -1) << miss;
  }
  EXPECT_EQ(WriteLimit(FieldOf(ConfigEdit::ACP)), 255u);
  EXPECT_EQ(WriteLimit(FieldOf(ConfigEdit::RPX)), 65535u);
  EXPECT_EQ(WriteLimit(FieldOf(ConfigEdit::RBGL)), 1000u);
}
