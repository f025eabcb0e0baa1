#include "sim/sim_args.h"

// CLI11
#include <CLI/CLI.hpp>

// Std
#include <array>
#include <charconv>
#include <cstdint>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr std::array<std::pair<SimFaultKind, const char*>, 13> FaultNames{{
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
    {SimFaultKind::AlterWrite, "alter-write"},
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

constexpr const char* Intro =
    R"(Runs one simulated ZPi on a new pseudo-terminal. The first line printed is the path of its
device (e.g. /dev/pts/5): run the tool with ZPITOOL_EXTRA_PORTS=<path> to see it in the port
list. Events are logged to stderr. Stops on Ctrl+C (SIGINT) or SIGTERM.
)";

constexpr const char* Footer =
    R"(Faults, --fault KIND@N[:PARAM], repeatable; N counts the valid frames from the tool, from 1:
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
  alter-write@N[:BYTE]   from frame N on, store configuration writes with byte BYTE one
                         higher (default 19, VMX) and their sum made good

--dump FILE: when zpisim ends (SIGINT, SIGTERM or hang-up) FILE gets one JSON object:
  {"configuration": the 2032-byte configuration memory as 4064 hex digits,
   "firmware": null, or for the last firmware received whole {"length": bytes,
               "xor": their exclusive OR, "sum": their 32-bit sum} (the transfer's trailer)}
)";

// Takes in one value of an option; returns why it is refused, empty when it is taken.
using Take = std::function<std::string(const std::string&)>;

// An option with one value per use; every use is checked.
CLI::Option* Value(CLI::App& app, const std::string& group, const std::string& name, const std::string& valueName,
                   const std::string& description, Take take) {
  return app.add_option(name)
      ->description(description)
      ->type_name(valueName)
      ->group(group)
      ->each([take = std::move(take)](const std::string& value) {
        if (std::string why = take(value); !why.empty()) throw CLI::ValidationError(why);
      });
}

std::string BadValue(const std::string& value) { return "bad value \"" + value + "\""; }

Take Byte(std::uint8_t& field) {
  return [&field](const std::string& value) {
    const auto v = Number(value, 255);
    if (!v) return BadValue(value);
    field = static_cast<std::uint8_t>(*v);
    return std::string();
  };
}

Take Millis(std::chrono::milliseconds& field, std::uint64_t least = 0) {
  return [&field, least](const std::string& value) {
    const auto v = Number(value, 3'600'000);
    if (!v || *v < least) return BadValue(value);
    field = std::chrono::milliseconds(*v);
    return std::string();
  };
}

Take FirmwareVersion(std::uint8_t& major, std::uint8_t& minor) {
  return [&major, &minor](const std::string& value) {
    const auto v = Version(value);
    if (!v) return BadValue(value);
    std::tie(major, minor) = *v;
    return std::string();
  };
}

// Every option of zpisim, bound to `line`.
void Describe(CLI::App& app, SimCommandLine& line) {
  SimOptions& o = line.options;
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);  // the last use counts
  app.footer(Footer);
  app.get_formatter()->column_width(25);

  const std::string identity = "Identity (what the unit announces)";
  Value(app, identity, "--mode", "N", "mode byte: 0 operating mode, 1 service mode (default 1)", Byte(o.mode));
  Value(app, identity, "--kind", "N", "version byte 1, the hardware kind (default 4)", Byte(o.kind));
  Value(app, identity, "--version2", "N", "version byte 2 (default 1)", Byte(o.versionByte2));
  Value(app, identity, "--firmware", "MAJ.MIN",
        "firmware version; 255.255 or \"none\": no firmware (default 2.46)",
        FirmwareVersion(o.firmwareMajor, o.firmwareMinor));
  Value(app, identity, "--restart-firmware", "MAJ.MIN", "firmware announced after a firmware upload (default 2.46)",
        FirmwareVersion(o.restartMajor, o.restartMinor));
  Value(app, identity, "--id", "W3,W2,W1",
        "96-bit id as three hex words, highest first\n(default 00000246,00C0FFEE,5A500001)",
        [&o](const std::string& value) {
          const auto v = Id(value);
          if (!v) return BadValue(value);
          o.id = *v;
          return std::string();
        });
  Value(app, identity, "--base", "ADDR", "configuration base address, decimal or 0x hex (default 0x00010000)",
        [&o](const std::string& value) {
          const auto v = Number(value, 0xFFFFFFFFu);
          if (!v) return BadValue(value);
          o.configBaseAddress = static_cast<std::uint32_t>(*v);
          return std::string();
        });
  app.add_option("--text-a", o.textA, "the first 12-byte text of the device information")
      ->type_name("TEXT")
      ->group(identity);
  app.add_option("--text-b", o.textB, "the second 12-byte text of the device information")
      ->type_name("TEXT")
      ->group(identity);

  Value(app, "Configuration memory", "--image", "NAME",
        "default | ventora | invalid (bad signature) | blank (all 0xFF) |\n"
        "file:PATH (exactly 2032 bytes)            (default: default)",
        [&o](const std::string& value) {
          std::string why;
          auto image = StartImage(value, &why);
          if (!image) return why.empty() ? BadValue(value) : why;
          o.memory = *image;
          return std::string();
        });

  const std::string timing = "Timing (milliseconds)";
  Value(app, timing, "--ack-delay", "MS", "delay before every answer (default 0)", Millis(o.ackDelay));
  Value(app, timing, "--restart-delay", "MS", "silence after a firmware upload (default 300)", Millis(o.restartDelay));
  Value(app, timing, "--announce-period", "MS", "announcement period until the tool talks (default 1000)",
        Millis(o.announcePeriod, 1));

  Value(app, "Faults", "--fault", "KIND@N[:PARAM]", "inject a fault (the kinds are listed below); repeatable",
        [&o](const std::string& value) {
          std::string why;
          const auto fault = ParseSimFault(value, &why);
          if (!fault) return why;
          o.faults.push_back(*fault);
          return std::string();
        })
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

  app.add_option("--dump", line.dump, "write the unit's memory to FILE when zpisim ends (below)")
      ->type_name("FILE")
      ->group("Other");
  app.add_flag("-q,--quiet", line.quiet, "log nothing")->group("Other");
  app.set_help_flag("-h,--help", "show this text")->group("Other");
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
  CLI::App app(Intro, "zpisim");
  Describe(app, line);
  app.allow_extras();  // named below, in their own order
  const auto fail = [&](const std::string& why) -> std::optional<SimCommandLine> {
    if (error) *error = why + " (see --help)";
    return std::nullopt;
  };
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    line.help = true;
  } catch (const CLI::ParseError& e) {
    return fail(e.what());
  }
  if (const std::vector<std::string> extra = app.remaining(); !extra.empty()) {
    const std::string& first = extra.front();
    if (first.starts_with('-')) return fail("unknown option " + first.substr(0, first.find('=')));
    return fail("unexpected argument \"" + first + "\"");
  }
  return line;
}

std::string SimUsage() {
  SimCommandLine unused;
  CLI::App app(Intro, "zpisim");
  Describe(app, unused);
  return app.help();
}
