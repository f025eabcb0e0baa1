#include "sim/sim_args.h"

// Std
#include <array>
#include <charconv>
#include <cstdint>
#include <utility>

namespace {

constexpr std::array<std::pair<SimFaultKind, const char*>, 12> FaultNames{{
    {SimFaultKind::DropAnswer, "drop"},
    {SimFaultKind::Refuse, "refuse"},
    {SimFaultKind::ShortAnswer, "short"},
    {SimFaultKind::BadSumAnswer, "bad-sum"},
    {SimFaultKind::NoStartAnswer, "no-start"},
    {SimFaultKind::TwoFrames, "two-frames"},
    {SimFaultKind::SplitAnswer, "split"},
    {SimFaultKind::WrongAddress, "wrong-address"},
    {SimFaultKind::HangUp, "hang-up"},
    {SimFaultKind::SilentFrom, "silent-from"},
    {SimFaultKind::Reannounce, "reannounce"},
    {SimFaultKind::OperatingNotice, "operating-notice"},
}};

// An unsigned number, decimal or with a 0x prefix, up to `max`; nothing else on the text.
std::optional<std::uint64_t> Number(std::string_view text, std::uint64_t max, int base = 0) {
  if (base == 0) {
    base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
      base = 16;
      text.remove_prefix(2);
    }
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

// "2.46", "255.255" or "none".
std::optional<std::pair<std::uint8_t, std::uint8_t>> Version(std::string_view text) {
  if (text == "none") return std::pair<std::uint8_t, std::uint8_t>{255, 255};
  const auto dot = text.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const auto major = Number(text.substr(0, dot), 255, 10);
  const auto minor = Number(text.substr(dot + 1), 255, 10);
  if (!major || !minor) return std::nullopt;
  return std::pair<std::uint8_t, std::uint8_t>{static_cast<std::uint8_t>(*major),
                                               static_cast<std::uint8_t>(*minor)};
}

// Three hexadecimal words, highest first as the tool shows them, split by ',', ':' or ' '.
std::optional<std::array<std::uint32_t, 3>> Id(std::string_view text) {
  std::array<std::uint32_t, 3> id{};
  for (int word = 2; word >= 0; --word) {
    const auto cut = text.find_first_of(", :");
    const std::string_view part = text.substr(0, cut);
    const auto value = Number(part, 0xFFFFFFFFu, 16);
    if (!value || part.size() > 8) return std::nullopt;
    id[static_cast<std::size_t>(word)] = static_cast<std::uint32_t>(*value);
    if (word == 0) {
      if (cut != std::string_view::npos) return std::nullopt;
    } else {
      if (cut == std::string_view::npos) return std::nullopt;
      text.remove_prefix(cut + 1);
    }
  }
  return id;
}

}  // namespace

const char* SimFaultName(SimFaultKind kind) {
  for (const auto& [k, name] : FaultNames) {
    if (k == kind) return name;
  }
  return "?";
}

std::optional<SimFault> ParseSimFault(std::string_view text, std::string* error) {
  const auto fail = [&]() -> std::optional<SimFault> {
    if (error) *error = "bad fault \"" + std::string(text) + "\" (KIND@FRAME[:PARAM])";
    return std::nullopt;
  };
  const auto at = text.find('@');
  if (at == std::string_view::npos) return fail();
  SimFault fault;
  bool known = false;
  for (const auto& [kind, name] : FaultNames) {
    if (text.substr(0, at) == name) {
      fault.kind = kind;
      known = true;
    }
  }
  if (!known) return fail();
  std::string_view rest = text.substr(at + 1);
  const auto colon = rest.find(':');
  const auto frame = Number(rest.substr(0, colon), 0xFFFFFFFFu);
  if (!frame || *frame == 0) return fail();
  fault.frame = static_cast<std::uint32_t>(*frame);
  if (colon != std::string_view::npos) {
    const auto param = Number(rest.substr(colon + 1), 0xFFFFFFFFu);
    if (!param) return fail();
    fault.param = static_cast<std::uint32_t>(*param);
  }
  return fault;
}

std::optional<SimCommandLine> ParseSimCommandLine(std::span<const std::string> args, std::string* error) {
  SimCommandLine line;
  SimOptions& o = line.options;
  const auto fail = [&](std::string why) -> std::optional<SimCommandLine> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    if (name == "-h" || name == "--help") {
      line.help = true;
      continue;
    }
    if (name == "-q" || name == "--quiet") {
      line.quiet = true;
      continue;
    }
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return fail("option " + name + " needs a value");
    }
    const auto bad = [&] { return fail("bad value for " + name + ": \"" + value + "\""); };
    const auto byte = [&](std::uint8_t& field) {
      const auto v = Number(value, 255);
      if (v) field = static_cast<std::uint8_t>(*v);
      return v.has_value();
    };
    const auto millis = [&](std::chrono::milliseconds& field) {
      const auto v = Number(value, 3'600'000);
      if (v) field = std::chrono::milliseconds(*v);
      return v.has_value();
    };
    if (name == "--kind") {
      if (!byte(o.kind)) return bad();
    } else if (name == "--version2") {
      if (!byte(o.versionByte2)) return bad();
    } else if (name == "--mode") {
      if (!byte(o.mode)) return bad();
    } else if (name == "--firmware" || name == "--restart-firmware") {
      const auto v = Version(value);
      if (!v) return bad();
      auto& [major, minor] = *v;
      if (name == "--firmware") {
        o.firmwareMajor = major;
        o.firmwareMinor = minor;
      } else {
        o.restartMajor = major;
        o.restartMinor = minor;
      }
    } else if (name == "--id") {
      const auto v = Id(value);
      if (!v) return bad();
      o.id = *v;
    } else if (name == "--base") {
      const auto v = Number(value, 0xFFFFFFFFu);
      if (!v) return bad();
      o.configBaseAddress = static_cast<std::uint32_t>(*v);
    } else if (name == "--text-a") {
      o.textA = value;
    } else if (name == "--text-b") {
      o.textB = value;
    } else if (name == "--image") {
      std::string why;
      auto image = StartImage(value, &why);
      if (!image) return fail(why);
      o.memory = *image;
    } else if (name == "--ack-delay") {
      if (!millis(o.ackDelay)) return bad();
    } else if (name == "--restart-delay") {
      if (!millis(o.restartDelay)) return bad();
    } else if (name == "--announce-period") {
      if (!millis(o.announcePeriod) || o.announcePeriod.count() == 0) return bad();
    } else if (name == "--fault") {
      std::string why;
      const auto fault = ParseSimFault(value, &why);
      if (!fault) return fail(why);
      o.faults.push_back(*fault);
    } else {
      return fail("unknown option " + name + " (see --help)");
    }
  }
  return line;
}

std::string SimUsage() {
  return R"(Usage: zpisim [options]
Runs one simulated ZPi on a new pseudo-terminal. The first line printed is the path of its
device (e.g. /dev/pts/5): run the tool with ZPITOOL_EXTRA_PORTS=<path> to see it in the port
list. Events are logged to stderr. Stops on Ctrl+C (SIGINT) or SIGTERM.

Identity (what the unit announces):
  --mode N               mode byte: 0 operating mode, 1 service mode (default 1)
  --kind N               version byte 1, the hardware kind (default 4)
  --version2 N           version byte 2 (default 1)
  --firmware MAJ.MIN     firmware version; 255.255 or "none": no firmware (default 2.46)
  --restart-firmware MAJ.MIN
                         firmware announced after a firmware upload (default 2.46)
  --id W3,W2,W1          96-bit id as three hex words, highest first
                         (default 00000246,00C0FFEE,5A500001)
  --base ADDR            configuration base address, decimal or 0x hex (default 0x00010000)
  --text-a TEXT, --text-b TEXT
                         the two 12-byte texts of the device information

Configuration memory:
  --image NAME           default | ventora | invalid (bad signature) | blank (all 0xFF) |
                         file:PATH (exactly 2032 bytes)            (default: default)

Timing (milliseconds):
  --ack-delay MS         delay before every answer (default 0)
  --restart-delay MS     silence after a firmware upload (default 300)
  --announce-period MS   announcement period until the tool talks (default 1000)

Faults, --fault KIND@N[:PARAM], repeatable; N counts the valid frames from the tool, from 1:
  drop@N                 handle frame N but send no answer
  refuse@N               refuse frame N (command 3)
  short@N                send 5 bytes of the answer only
  bad-sum@N              send the answer with a wrong sum
  no-start@N             send the answer without its start byte
  two-frames@N           send the answer and an announcement in one write
  split@N[:MS]           send the answer in two writes, MS apart (default 20)
  wrong-address@N[:A]    send the answer with address byte A (default 0x11)
  hang-up@N              close the line at frame N (the unit unplugged); zpisim then exits
  silent-from@N          say nothing from frame N on
  reannounce@N[:MS]      announce again MS after the answer (default 10)
  operating-notice@N[:MS] send the operating-mode notice MS after the answer (default 10)

Other:
  -q, --quiet            log nothing
  -h, --help             show this text
)";
}
