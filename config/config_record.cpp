#include "config/config_record.h"

// lib
#include "config/config_fields.h"

// Std
#include <algorithm>

namespace {

constexpr std::array<std::uint8_t, 4> Signature{0xCA, 0xFE, 0xF0, 0xDA};
constexpr std::size_t HeadSize = 6;       // signature + body length
constexpr std::size_t ChecksumSize = 3;   // 24-bit sum after the body
constexpr std::uint8_t Filler = 0xFF;

// Big-endian, `width` bytes; the places come from the field table and stay far inside the
// image, but every byte is still checked.
void PutNumber(ConfigImage& image, std::size_t at, std::size_t width, std::uint32_t value) {
  for (std::size_t i = 0; i < width; ++i)
    if (at + i < image.size()) image[at + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

std::uint32_t NumberAt(const ConfigImage& image, std::size_t at, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width && at + i < image.size(); ++i) value = value << 8 | image[at + i];
  return value;
}

constexpr Condition ConditionAt(std::size_t i) { return static_cast<Condition>(i); }

constexpr ConfigRecord StockRecord(bool preset) {
  ConfigRecord r;
  for (const NumericField& f : NumericFields) f.Member.Set(r, preset ? f.Preset : f.Default);
  for (const ChoiceField& box : ChoiceFields) ChoiceIn(r, box) = preset ? box.Preset : box.Default;
  return r;
}

}  // namespace

const ConfigRecord& DefaultConfig() {
  static constexpr ConfigRecord record = StockRecord(false);
  return record;
}

const ConfigRecord& VentoraPreset() {
  static constexpr ConfigRecord record = StockRecord(true);
  return record;
}


TransferTrailer MakeTrailer(std::span<const std::uint8_t> data) {
  std::uint8_t x = 0;
  std::uint32_t sum = 0;
  for (const std::uint8_t b : data) {
    x ^= b;
    sum += b;
  }
  return {x, static_cast<std::uint8_t>(sum >> 24), static_cast<std::uint8_t>(sum >> 16),
          static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)};
}

EncodedConfig EncodeConfigImage(const ConfigRecord& r) {
  EncodedConfig out;
  ConfigImage& img = out.image;
  img.fill(Filler);
  std::copy(Signature.begin(), Signature.end(), img.begin());
  img[6] = 0x01;
  img[7] = 0x02;
  for (const NumericField& f : NumericFields) PutNumber(img, f.Offset, f.Member.Width(), f.Member.Get(r));
  for (std::size_t i = 0; i < ConditionCount; ++i) img[ConditionFields[i].CodeOffset] = CodeOf(r, ConditionAt(i));
  PutNumber(img, 4, 2, ConfigFieldsEnd - HeadSize);  // body length, 30

  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < ConfigFieldsEnd; ++i) sum += img[i];
  PutNumber(img, ConfigFieldsEnd, ChecksumSize, sum);

  out.trailer = MakeTrailer(img);
  return out;
}

DecodedConfig DecodeConfigImage(const ConfigImage& R, bool forcePreset) {
  DecodedConfig out;
  unsigned& E = out.errors;

  if (!std::equal(Signature.begin(), Signature.end(), R.begin())) {
    ++E;
    return out;
  }
  // Head, body and checksum; never beyond the image whatever the length field says.
  const std::size_t L = std::size_t{NumberAt(R, 4, 2)} + HeadSize + ChecksumSize;
  if (L > ConfigImageSize) {
    ++E;
    return out;
  }
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + ChecksumSize < L; ++i) sum += R[i];
  if (sum != NumberAt(R, L - ChecksumSize, ChecksumSize)) {
    ++E;
    return out;
  }

  // The fields sit at fixed places whatever the body length; numbers are taken as they are,
  // lists must hold a code of their table.
  ConfigRecord& r = out.record;
  for (const NumericField& f : NumericFields) {
    const std::uint32_t value = NumberAt(R, f.Offset, f.Member.Width());
    f.Member.Set(r, value);
    if (f.IsList() && CodeIndex(f, value) < 0) ++E;
    if (f.OnlyCode != 0 && value != f.OnlyCode) ++E;  // the tracker port runs at one rate only
  }
  // Each digit of a code is checked on its own; a box is set from a digit in range.
  for (std::size_t i = 0; i < ConditionCount; ++i) {
    const ConditionField& c = ConditionFields[i];
    const unsigned tens = R[c.CodeOffset] / 10, units = R[c.CodeOffset] % 10;
    const bool tensOk = tens <= c.BuzzerDigitMax, unitsOk = units <= c.EventDigitMax;
    E += !tensOk + !unitsOk;
    for (const ChoiceField& box : ChoiceFields) {
      if (box.Group != ConditionAt(i)) continue;
      const bool buzzer = box.Kind == ChoiceKind::Buzzer;
      if (buzzer ? tensOk : unitsOk) ChoiceIn(r, box) = ((buzzer ? tens : units) & box.Weight) != 0;
    }
  }

  if (forcePreset) {
    const ConfigRecord& p = VentoraPreset();
    // A list held to one code has been counted above already.
    for (const NumericField& f : NumericFields)
      if (f.OnlyCode == 0 && f.Member.Get(r) != f.Member.Get(p)) ++E;
    // Each digit against the preset's, even one already counted as out of range.
    for (std::size_t i = 0; i < ConditionCount; ++i) {
      const unsigned code = R[ConditionFields[i].CodeOffset], preset = CodeOf(p, ConditionAt(i));
      E += (code / 10 != preset / 10) + (code % 10 != preset % 10);
    }
  }
  return out;
}

bool IsAllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
