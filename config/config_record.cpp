#include "config/config_record.h"

// Std
#include <algorithm>

namespace {

constexpr std::array<std::uint8_t, 4> Signature{0xCA, 0xFE, 0xF0, 0xDA};
constexpr std::size_t HeadSize = 6;       // signature + body length
constexpr std::size_t ChecksumSize = 3;   // 24-bit sum after the body
constexpr std::uint8_t Filler = 0xFF;

// Sequential writer over the image; positions are fixed by the layout and stay far inside
// the 2032 bytes, but every write is still checked.
class ImageWriter {
 public:
  explicit ImageWriter(ConfigImage& image) : image_(image) {}
  void U8(std::uint8_t value) {
    if (pos_ < image_.size()) image_[pos_] = value;
    ++pos_;
  }
  void U16(std::uint16_t value) {
    U8(static_cast<std::uint8_t>(value >> 8));
    U8(static_cast<std::uint8_t>(value & 0xFF));
  }
  void Seek(std::size_t pos) { pos_ = pos; }
  [[nodiscard]] std::size_t Pos() const { return pos_; }

 private:
  ConfigImage& image_;
  std::size_t pos_ = 0;
};

constexpr std::uint16_t U16At(const ConfigImage& image, std::size_t offset) {
  return static_cast<std::uint16_t>(image[offset] << 8 | image[offset + 1]);
}

AlertChoices AlertsFrom(unsigned buzzer, unsigned event) {
  AlertChoices c;
  c.BZ_IN = (buzzer & 1) != 0;
  c.BZ_OUT = (buzzer & 2) != 0;
  c.BZ_WH = (buzzer & 4) != 0;
  c.EV_IN = (event & 1) != 0;
  c.EV_OUT = (event & 2) != 0;
  return c;
}

ConfigRecord MakeDefault() {
  ConfigRecord r;
  r.PING = 180;
  r.A232 = 1152;
  r.B232 = 192;
  r.ACP = 11;
  r.ACN = 11;
  r.BZ_ACP = r.EV_ACP = true;
  r.BZ_ACN = r.EV_ACN = true;
  const AlertChoices alerts{.BZ_IN = true, .BZ_OUT = false, .BZ_WH = false, .EV_IN = true, .EV_OUT = false};
  r.VMX = 120, r.TVMX = 5, r.VMX_Alerts = alerts;
  r.VCH = 90, r.TVCH = 5, r.VCH_Alerts = alerts;
  r.RPX = 4500, r.TRPX = 5, r.RPX_Alerts = alerts;
  r.TOSC = 6, r.XOSC = 7, r.OSC_Alerts = alerts;
  r.VBGL = 40, r.RBGL = 900, r.TBGL = 5, r.BGL_Alerts = alerts;
  return r;
}

ConfigRecord MakeVentora() {
  ConfigRecord r;
  r.PING = 60;
  r.A232 = 1152;
  r.B232 = 192;
  r.ACP = 11;
  r.ACN = 11;
  r.BZ_ACP = false, r.EV_ACP = true;
  r.BZ_ACN = false, r.EV_ACN = true;
  const AlertChoices alerts{.BZ_IN = false, .BZ_OUT = false, .BZ_WH = false, .EV_IN = true, .EV_OUT = true};
  r.VMX = 100, r.TVMX = 10, r.VMX_Alerts = alerts;
  r.VCH = 80, r.TVCH = 10, r.VCH_Alerts = alerts;
  r.RPX = 4500, r.TRPX = 5, r.RPX_Alerts = alerts;
  r.TOSC = 1, r.XOSC = 7, r.OSC_Alerts = alerts;
  r.VBGL = 40, r.RBGL = 900, r.TBGL = 5, r.BGL_Alerts = alerts;
  return r;
}

template <std::size_t N>
int IndexIn(const std::array<std::uint16_t, N>& table, std::uint16_t value) {
  const auto it = std::find(table.begin(), table.end(), value);
  return it == table.end() ? -1 : static_cast<int>(it - table.begin());
}

}  // namespace

const ConfigRecord& DefaultConfig() {
  static const ConfigRecord record = MakeDefault();
  return record;
}

const ConfigRecord& VentoraPreset() {
  static const ConfigRecord record = MakeVentora();
  return record;
}

int PingIndex(std::uint16_t seconds) { return IndexIn(PingTable, seconds); }
int BaudIndex(std::uint16_t code) { return IndexIn(BaudTable, code); }

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
  ImageWriter w(img);
  for (const std::uint8_t b : Signature) w.U8(b);
  w.Seek(HeadSize);
  w.U8(0x01);
  w.U8(0x02);
  w.U16(r.PING);
  w.U16(r.A232);
  w.U16(r.B232);
  w.U8(r.ACP);
  w.U8(r.ACN);
  w.U8(AlertEventCode(r.BZ_ACP, r.EV_ACP));
  w.U8(AlertEventCode(r.BZ_ACN, r.EV_ACN));
  w.U8(AlertEventCode(r.VMX_Alerts));
  w.U8(r.VMX);
  w.U8(r.TVMX);
  w.U8(AlertEventCode(r.VCH_Alerts));
  w.U8(r.VCH);
  w.U8(r.TVCH);
  w.U8(AlertEventCode(r.RPX_Alerts));
  w.U16(r.RPX);
  w.U8(r.TRPX);
  w.U8(AlertEventCode(r.OSC_Alerts));
  w.U8(r.TOSC);
  w.U8(r.XOSC);
  w.U8(AlertEventCode(r.BGL_Alerts));
  w.U8(r.VBGL);
  w.U16(r.RBGL);
  w.U8(r.TBGL);

  const std::size_t end = w.Pos();  // 36
  const auto bodyLength = static_cast<std::uint16_t>(end - HeadSize);
  w.Seek(4);
  w.U16(bodyLength);

  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < end; ++i) sum += img[i];
  w.Seek(end);
  w.U8(static_cast<std::uint8_t>(sum >> 16));
  w.U8(static_cast<std::uint8_t>(sum >> 8));
  w.U8(static_cast<std::uint8_t>(sum));

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
  const std::size_t L = std::size_t{U16At(R, 4)} + HeadSize + ChecksumSize;
  if (L > ConfigImageSize) {
    ++E;
    return out;
  }
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + ChecksumSize < L; ++i) sum += R[i];
  const std::uint32_t stored =
      std::uint32_t{R[L - 3]} << 16 | std::uint32_t{R[L - 2]} << 8 | std::uint32_t{R[L - 1]};
  if (sum != stored) {
    ++E;
    return out;
  }

  ConfigRecord& r = out.record;
  r.PING = U16At(R, 8);
  if (PingIndex(r.PING) < 0) ++E;
  r.A232 = U16At(R, 10);
  if (BaudIndex(r.A232) < 0) ++E;
  if (r.A232 != 1152) ++E;  // the tracker port runs only at 115200
  r.B232 = U16At(R, 12);
  if (BaudIndex(r.B232) < 0) ++E;
  r.ACP = R[14];
  r.ACN = R[15];

  // Harsh acceleration and braking: one buzzer digit and one event digit, each 0 or 1.
  const auto twoChoice = [&E](std::uint8_t code, bool& buzzer, bool& event) {
    const unsigned t = code / 10, u = code % 10;
    if (t > 1) ++E; else buzzer = t == 1;
    if (u > 1) ++E; else event = u == 1;
  };
  twoChoice(R[16], r.BZ_ACP, r.EV_ACP);
  twoChoice(R[17], r.BZ_ACN, r.EV_ACN);

  // Buzzer digit up to 4 (during excludes entry and exit), event digit up to 3.
  const auto fiveChoice = [&E](std::uint8_t code, AlertChoices& c) {
    const unsigned t = code / 10, u = code % 10;
    const AlertChoices bits = AlertsFrom(t, u);
    if (t > 4) ++E; else c.BZ_IN = bits.BZ_IN, c.BZ_OUT = bits.BZ_OUT, c.BZ_WH = bits.BZ_WH;
    if (u > 3) ++E; else c.EV_IN = bits.EV_IN, c.EV_OUT = bits.EV_OUT;
  };
  fiveChoice(R[18], r.VMX_Alerts);
  r.VMX = R[19];
  r.TVMX = R[20];
  fiveChoice(R[21], r.VCH_Alerts);
  r.VCH = R[22];
  r.TVCH = R[23];
  fiveChoice(R[24], r.RPX_Alerts);
  r.RPX = U16At(R, 25);
  r.TRPX = R[27];
  fiveChoice(R[28], r.OSC_Alerts);
  r.TOSC = R[29];
  r.XOSC = R[30];
  fiveChoice(R[31], r.BGL_Alerts);
  r.VBGL = R[32];
  r.RBGL = U16At(R, 33);
  r.TBGL = R[35];

  if (forcePreset) {
    const ConfigRecord& p = VentoraPreset();
    const auto differs = [&E](auto value, auto preset) {
      if (value != preset) ++E;
    };
    // Each digit of a code is compared on its own, even one already counted as out of range.
    const auto digits = [&E](std::uint8_t code, unsigned tens, unsigned units) {
      if (code / 10 != tens) ++E;
      if (code % 10 != units) ++E;
    };
    differs(r.PING, p.PING);
    differs(r.B232, p.B232);
    differs(r.ACP, p.ACP);
    differs(r.ACN, p.ACN);
    digits(R[16], 0, 1);
    digits(R[17], 0, 1);
    for (const std::size_t at : {18u, 21u, 24u, 28u, 31u}) digits(R[at], 0, 3);
    differs(r.VMX, p.VMX);
    differs(r.TVMX, p.TVMX);
    differs(r.VCH, p.VCH);
    differs(r.TVCH, p.TVCH);
    differs(r.RPX, p.RPX);
    differs(r.TRPX, p.TRPX);
    differs(r.TOSC, p.TOSC);
    differs(r.XOSC, p.XOSC);
    differs(r.VBGL, p.VBGL);
    differs(r.RBGL, p.RBGL);
    differs(r.TBGL, p.TBGL);
  }
  return out;
}

bool IsAllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}
