// zpictl run as a production bench or a fleet manager runs it: the real program against
// simulated units on pseudo-terminals, its output read as a script would read it, and each
// unit's frames, memory and counters looked at afterwards.
#include "config/config_file.h"
#include "config/panel_values.h"
#include "config/remote_commands.h"
#include "sim/sim_unit.h"
#include "support/process.h"
#include "ctl/zpictl_support.h"

#include <gtest/gtest.h>

// Third party
#include <nlohmann/json.hpp>

// Std
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

// POSIX
#include <unistd.h>

namespace {

using namespace ctl_test;

// A record unlike either stock record, that passes every check of a write.
ConfigRecord Edited() {
  ConfigRecord r = DefaultConfig();
  r.PING = 30;
  r.B232 = 96;
  r.VMX = 88;
  r.RPX = 3200;
  r.TOSC = 1;
  r.RBGL = 300;
  r.VMX_Alerts = {.BZ_IN = false, .BZ_OUT = false, .BZ_WH = true, .EV_IN = false, .EV_OUT = true};
  r.BZ_ACN = false;
  return r;
}

// A key's value replaced in a configuration file's text: `"KEY": old` becomes `"KEY": value`.
std::string With(std::string text, const std::string& key, const std::string& value) {
  const std::string name = "\"" + key + "\": ";
  const auto at = text.find(name);
  if (at == std::string::npos) return text;
  const auto from = at + name.size();
  const auto end = text.find_first_of(",\n", from);
  return text.replace(from, end - from, value);
}

// ---- The four units of a bench -------------------------------------------------------------

TEST(Zpictl, ServesFourUnitsAtOnceAndNamesTheOneThatFellSilent) {
  auto old = Started(Options({.minor = 45, .serial = 1}));
  auto invalid = Started(Options({.image = "invalid", .serial = 2}));
  auto current = Started(Options({.serial = 3}));
  SimOptions silentOptions = Options({.minor = 45, .serial = 4});
  silentOptions.faults = {{SimFaultKind::SilentFrom, 900, 0}};  // about half-way through the upload
  auto silent = Started(silentOptions);
  const ConfigImage oldMemory = old->Memory();

  const Finished run = Zpictl({"service", old->DevicePath(), invalid->DevicePath(), current->DevicePath(),
                               silent->DevicePath(), "--json"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  const std::vector<Json> lines = JsonLines(run.out);

  struct Case {
    SimUnit* unit;
    Outcome outcome;
    Strings events;
  };
  const Case cases[] = {
      {old.get(),
       {.done = {"identified", "upload", "read"}},
       {"identified", "progress upload", "identified", "progress read", "read", "result"}},
      {invalid.get(),
       {.done = {"identified", "read", "write default", "verify"}},
       {"identified", "progress read", "read", "progress write", "written", "progress verify", "verified", "result"}},
      {current.get(), {.done = {"identified", "read"}}, {"identified", "progress read", "read", "result"}},
      {silent.get(),
       {.code = 2,
        .error = "ERRO #0x02: A operação não foi concluida! Nacks = 0 Code10 = 0 Code15 = 0 Code20 = 0",
        .unfinished = "firmware upload at frame 900 of *",
        .done = {"identified"}},
       {"identified", "progress upload", "result"}},
  };
  for (const Case& c : cases) {
    const std::string port = c.unit->DevicePath();
    const Json result = ResultOf(lines, port);
    ExpectResult(result, c.outcome, port);
    EXPECT_EQ(result.value("id", ""), IdOf(*c.unit)) << port;
    EXPECT_EQ(EventsOf(lines, port), c.events) << port;
    EXPECT_TRUE(c.unit->WaitForConnected(false, 2s)) << port << ": the port is closed at the end";
  }
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), (Json{{"event", "note"}, {"text", "3 of 4 units succeeded"}}));
  EXPECT_EQ(lines[lines.size() - 2], ResultOf(lines, silent->DevicePath())) << "no unit waited for the silent one";
  EXPECT_EQ(invalid->Memory(), EncodeConfigImage(DefaultConfig()).image);
  EXPECT_EQ(old->Info().Version[3], 46);
  EXPECT_EQ(old->Memory(), oldMemory) << "a valid configuration stays";
  EXPECT_EQ(current->Counters().frames, 5u) << "the read's five requests and nothing else";
  EXPECT_EQ(silent->Counters().restarts, 0u);
}

// ---- Files --------------------------------------------------------------------------------

TEST(Zpictl, ReadFromOneUnitThenWrittenToAnotherMakesThemEqual) {
  auto source = Started(Options({.serial = 1}));
  source->SetMemory(EncodeConfigImage(Edited()).image);
  auto target = Started(Options({.serial = 2}));
  TempFile file("");

  const Finished read = Zpictl({"read", source->DevicePath(), "-o", file.Path()});
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(file.Text(), ConfigFileText(Edited()));

  const Finished write = Zpictl({"write", target->DevicePath(), file.Path()});
  ASSERT_EQ(write.status, 0) << write.err;
  EXPECT_NE(write.out.find("OK"), std::string::npos) << write.out;
  EXPECT_EQ(target->Memory(), source->Memory());
  EXPECT_EQ(target->Counters().configWrites, 1u);

  // To standard output: the file alone there, the events (JSON here) on standard error.
  const Finished toStdout = Zpictl({"read", source->DevicePath(), "--json"});
  EXPECT_EQ(toStdout.status, 0);
  EXPECT_EQ(toStdout.out, ConfigFileText(Edited()));
  const std::vector<Json> events = JsonLines(toStdout.err);
  ExpectResult(ResultOf(events, source->DevicePath()), {.done = {"identified", "read"}}, source->DevicePath());

  // A unit holding a value the panel refuses: the file keeps it, and says what write will say.
  ConfigRecord fast = Edited();
  fast.VMX = 200;
  source->SetMemory(EncodeConfigImage(fast).image);
  const Finished held = Zpictl({"read", source->DevicePath(), "-o", file.Path()});
  EXPECT_EQ(held.status, 0) << held.err;
  EXPECT_EQ(file.Text(), ConfigFileText(fast));
  EXPECT_NE(held.err.find("warning: the unit holds \"VMX\" = 200: Parâmetro inválido! [Velocidade]"), std::string::npos)
      << held.err;
}

TEST(Zpictl, ServiceWritesThePresetOrAFileOverAValidConfiguration) {
  auto preset = Started(Options({.serial = 1}));
  auto fromFile = Started(Options({.serial = 2}));
  TempFile file(ConfigFileText(Edited()));
  const struct {
    SimUnit* unit;
    Strings options;
    ConfigRecord record;
    Strings done;
  } cases[] = {
      {preset.get(), {"--ventora"}, VentoraPreset(), {"identified", "read", "write ventora", "verify"}},
      {fromFile.get(), {"--config", file.Path()}, Edited(), {"identified", "read", "write " + file.Path(), "verify"}},
  };
  for (const auto& c : cases) {
    Strings args{"service", c.unit->DevicePath(), "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Finished run = Zpictl(args);
    EXPECT_EQ(run.status, 0) << c.options[0] << run.err;
    ExpectResult(ResultOf(JsonLines(run.out), c.unit->DevicePath()), {.done = c.done}, c.options[0]);
    EXPECT_EQ(c.unit->Memory(), EncodeConfigImage(c.record).image) << c.options[0];
  }
}

TEST(Zpictl, ABadFileIsRefusedWithItsKeyAndNoUnitIsTouched) {
  auto unit = Started(Options({}));
  const std::string good = ConfigFileText(DefaultConfig());
  std::string twice = good, missing = good, unknown = good;
  twice.insert(2, "  \"VMX\": 100,\n");
  missing.erase(missing.find("  \"TBGL\""), missing.find('\n', missing.find("  \"TBGL\"")) - missing.find("  \"TBGL\"") + 1);
  unknown.insert(2, "  \"TURBO\": 1,\n");
  const struct {
    const char* what;
    std::string text;
    std::string error;  // the line on standard error after the file's path
  } cases[] = {
      {"malformed", good.substr(0, good.size() / 2), "not a JSON file: "},
      {"missing key", missing, "missing key \"TBGL\""},
      {"unknown key", unknown, "unknown key \"TURBO\""},
      {"out of range", With(good, "VMX", "151"), "\"VMX\" = 151: Parâmetro inválido! [Velocidade]"},
      {"wrong type", With(good, "PING", "\"180\""), "\"PING\" must be a whole number, not text"},
      {"format", With(good, "format", "2"), "unsupported format 2 (this zpictl reads format 1)"},
      {"twice", twice, "key \"VMX\" is given more than once"},
      {"during and entry", With(good, "BZ_VMX_WH", "true"),
       "\"BZ_VMX_WH\" and \"BZ_VMX_IN\" are both true: the buzzer during a condition excludes it at entry and exit"},
  };
  TempFile file("");
  const auto refused = [&](const Strings& args, const std::string& error) {
    const Finished run = Zpictl(args);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_EQ(run.out, "") << args[0];
    EXPECT_NE(run.err.find(file.Path() + ": " + error), std::string::npos) << args[0] << ": " << run.err;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    file.Write(c.text);
    refused({"write", unit->DevicePath(), file.Path()}, c.error);
  }
  // The same checks for the other commands that take a file.
  file.Write(cases[3].text);
  refused({"service", unit->DevicePath(), "--config", file.Path(), "--json"}, cases[3].error);
  refused({"commands", file.Path()}, cases[3].error);
  ExpectUntouched(*unit, "after every bad file");
}

// ---- Faults -------------------------------------------------------------------------------

TEST(Zpictl, EachFaultFailsItsOwnUnitWithItsReason) {
  auto good = Started(Options({.serial = 1}));
  SimOptions operating = Options({.serial = 2});
  operating.mode = 0;
  SimOptions unplugged = Options({.minor = 45, .serial = 3});
  unplugged.faults = {{SimFaultKind::HangUp, 100, 0}};
  SimOptions refusing = Options({.minor = 45, .serial = 4});
  for (std::uint32_t frame = 1; frame <= 6; ++frame) refusing.faults.push_back({SimFaultKind::Refuse, frame, 0});
  SimOptions otherKind = Options({.serial = 5});
  otherKind.kind = 5;
  SimOptions gone = Options({.minor = 45, .serial = 6});
  gone.restartDelay = 60s;  // does not come back after the upload,
  gone.ackDelay = 1ms;      // which itself outlasts the time limit for an announcement
  SimOptions stillOld = Options({.minor = 45, .serial = 7});
  stillOld.restartMinor = 45;
  std::vector<std::unique_ptr<SimUnit>> units;
  for (SimOptions& o : std::vector{operating, unplugged, refusing, otherKind, gone, stillOld})
    units.push_back(Started(std::move(o)));
  const std::string missingPort = "/dev/zpi-no-such-port";

  Strings args{"service", "--timeout", "1", good->DevicePath()};
  for (const auto& unit : units) args.push_back(unit->DevicePath());
  args.push_back(missingPort);
  args.push_back("--json");
  const Finished run = Zpictl(args);
  EXPECT_EQ(run.status, 1);
  const std::vector<Json> lines = JsonLines(run.out);

  const Strings identified{"identified"};
  const std::pair<std::string, Outcome> cases[] = {
      {good->DevicePath(), {.done = {"identified", "read"}}},
      {units[0]->DevicePath(),
       {.code = 12,
        .error = "the unit is in operating mode: disconnect every harness, connect the USB cable alone and try again",
        .done = identified}},
      {units[1]->DevicePath(),
       {.code = 14, .error = "the port closed: the unit was unplugged (the port hung up)", .unfinished = "firmware upload at frame 100 of *",
        .done = identified}},
      {units[2]->DevicePath(),
       {.code = 2,
        .error = "ERRO #0x02: A operação não foi concluida! Nacks = 4 Code10 = 0 Code15 = 0 Code20 = 0",
        .unfinished = "firmware upload at frame 1 of *",
        .done = identified}},
      {units[3]->DevicePath(), {.code = 13, .error = "a unit of kind 5 is not one this tool serves", .done = identified}},
      {units[4]->DevicePath(),
       {.code = 11,
        .error = "the unit did not announce itself after the upload",
        .unfinished = "waiting for the unit to restart after the firmware upload",
        .done = {"identified", "upload"}}},
      {units[5]->DevicePath(),
       {.code = 15, .error = "the unit still announces firmware 2.45 after the upload", .done = {"identified", "upload"}}},
      {missingPort,
       {.code = 10, .error = "the port cannot be opened: *"}},
  };
  for (const auto& [port, outcome] : cases) ExpectResult(ResultOf(lines, port), outcome, port);
  units.push_back(std::move(good));
  for (const auto& unit : units)  // each result names its unit, whatever became of it
    EXPECT_EQ(ResultOf(lines, unit->DevicePath()).value("id", ""), IdOf(*unit)) << unit->DevicePath();
  EXPECT_EQ(units[3]->Counters().frames, 0u) << "nothing is sent to a unit of another kind";
  EXPECT_EQ(units[0]->Counters().frames, 0u) << "nor to one in operating mode";
}

TEST(Zpictl, AnUploadWhoseLastAcknowledgementIsLostCompletesOnTheUnitsAnnouncement) {
  // The unit takes the last frame and restarts at 2.46, but its answer does not reach the tool.
  const std::pair<const char*, SimFaultKind> losses[] = {{"missing", SimFaultKind::DropAnswer},
                                                         {"cut", SimFaultKind::ShortAnswer},
                                                         {"without its start byte", SimFaultKind::NoStartAnswer},
                                                         {"with a bad sum", SimFaultKind::BadSumAnswer}};
  std::vector<std::unique_ptr<SimUnit>> units;
  Strings args{"service", "--json"};
  for (const auto& [name, loss] : losses) {
    SimOptions o = Options({.minor = 45, .serial = static_cast<std::uint32_t>(units.size() + 1)});
    o.faults = {{loss, 1888, 0}};
    units.push_back(Started(o));
    args.push_back(units.back()->DevicePath());
  }
  const Finished run = Zpictl(args);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<Json> lines = JsonLines(run.out);
  for (std::size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(losses[i].first);
    const SimUnit& unit = *units[i];
    ExpectResult(ResultOf(lines, unit.DevicePath()),
                 {.done = {"identified", "upload", "read"}, .notes = {"upload completed; last acknowledgement lost"}},
                 unit.DevicePath());
    EXPECT_EQ(EventsOf(lines, unit.DevicePath()),
              (Strings{"identified", "progress upload", "identified", "progress read", "read", "result"}));
    EXPECT_EQ(unit.Info().Version[3], 46);
    EXPECT_EQ(unit.Counters().restarts, 1u);
  }
}

TEST(Zpictl, AFailedVerificationNamesTheFieldsThatDiffer) {
  SimOptions oneField = Options({.serial = 1});
  oneField.faults = {{SimFaultKind::AlterWrite, 1, 0}};  // VMX stored one higher
  SimOptions twoFields = Options({.serial = 2});
  twoFields.faults = {{SimFaultKind::AlterWrite, 1, 18}};  // VMX's code: the event at exit, not entry
  SimOptions noField = Options({.serial = 3});
  noField.faults = {{SimFaultKind::AlterWrite, 1, 6}};  // a constant byte that no field reads
  auto vmx = Started(oneField);
  auto code = Started(twoFields);
  auto constant = Started(noField);
  TempFile file(ConfigFileText(DefaultConfig()));

  // People's output: a line per unit on standard output, its error under it.
  const Finished run =
      Zpictl({"write", vmx->DevicePath(), code->DevicePath(), constant->DevicePath(), file.Path()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("    error 15: the configuration read back differs in VMX\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("    error 15: the configuration read back differs in EV_VMX_IN, EV_VMX_OUT\n"),
            std::string::npos)
      << run.out;
  // The fields agree, yet the unit does not hold the image written: byte by byte it differs.
  EXPECT_NE(run.out.find("    error 15: the configuration read back differs at byte 6 of the image\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("left unfinished"), std::string::npos) << "the verification itself was complete";
  // Each port padded to the longest one's width (/dev/pts/9 beside /dev/pts/10).
  std::size_t width = 0;
  for (const SimUnit* unit : {vmx.get(), code.get(), constant.get()}) width = std::max(width, unit->DevicePath().size());
  for (const SimUnit* unit : {vmx.get(), code.get(), constant.get()}) {
    const std::string port = unit->DevicePath();
    EXPECT_NE(run.out.find(port + std::string(width - port.size(), ' ') + "  FAILED  ZPi v4.1.2.46  Id: " + IdOf(*unit) +
                           "  (identified, write " + file.Path() + ")"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(unit->Counters().configWrites, 1u) << "written once, not again";
  }
}

TEST(Zpictl, CtrlCClosesEveryPortAndSaysWhatWasLeftUnfinished) {
  SimOptions slow = Options({.minor = 45, .serial = 1});
  slow.ackDelay = 5ms;  // an upload of some ten seconds
  auto a = Started(slow);
  slow.id[0] += 1;
  auto b = Started(slow);
  Process zpictl(ZPICTL_PATH, {"service", a->DevicePath(), b->DevicePath(), "--json"});
  ASSERT_TRUE(zpictl.Started());

  // Both uploads under way, then Ctrl+C.
  const auto uploading = [&](const SimUnit& unit) {
    const std::string text = zpictl.Out();
    return text.find("{\"port\":\"" + unit.DevicePath() + "\",\"event\":\"progress\",\"phase\":\"upload\"") !=
           std::string::npos;
  };
  ASSERT_TRUE(zpictl.ReadUntil([&] { return uploading(*a) && uploading(*b); }, 20s)) << zpictl.Out() << zpictl.Err();
  zpictl.Signal(SIGINT);
  EXPECT_EQ(zpictl.Wait(10s), 1);
  EXPECT_EQ(zpictl.Err(), "");

  const std::vector<Json> lines = JsonLines(zpictl.Out());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), Json{{"event", "note"}, {"text", "interrupted: closing every port"}}),
            1);
  for (const SimUnit* unit : {a.get(), b.get()}) {
    const std::string port = unit->DevicePath();
    EXPECT_TRUE(unit->WaitForConnected(false, 2s)) << port << " is closed";
    ExpectResult(ResultOf(lines, port),
                 {.code = 17, .error = "interrupted", .unfinished = "firmware upload at frame *", .done = {"identified"}},
                 port);
    EXPECT_LT(unit->Counters().frames, 1000u) << port << ": stopped early";
  }
}

// ---- The other commands, and usage ------------------------------------------------------

TEST(Zpictl, InfoTellsKindFirmwareIdAndModeAndSendsNothing) {
  auto service = Started(Options({.serial = 1}));
  SimOptions operatingOptions = Options({.minor = 45, .serial = 2});
  operatingOptions.kind = 41;
  operatingOptions.mode = 0;
  auto operating = Started(operatingOptions);
  SimOptions mute = Options({.serial = 3});
  mute.settleDelay = 60s;  // never announces itself
  auto silent = Started(mute);

  const Finished json = Zpictl(
      {"info", service->DevicePath(), operating->DevicePath(), silent->DevicePath(), "--timeout", "0.5", "--json"});
  EXPECT_EQ(json.status, 1) << "the silent unit failed";
  const std::vector<Json> lines = JsonLines(json.out);
  const auto identified = [&](const SimUnit& unit) {
    for (const Json& j : lines)
      if (j.value("port", "") == unit.DevicePath() && j.value("event", "") == "identified") return j;
    return Json();
  };
  EXPECT_EQ(identified(*service), (Json{{"port", service->DevicePath()}, {"event", "identified"}, {"kind", 4},
                                       {"version", "4.1.2.46"}, {"firmware", "2.46"}, {"id", IdOf(*service)},
                                       {"mode", "service"}}));
  EXPECT_EQ(identified(*operating), (Json{{"port", operating->DevicePath()}, {"event", "identified"}, {"kind", 41},
                                         {"version", "41.1.2.45"}, {"firmware", "2.45"}, {"id", IdOf(*operating)},
                                         {"mode", "operating"}}));
  ExpectResult(ResultOf(lines, service->DevicePath()), {.done = {"identified"}}, "service");
  ExpectResult(ResultOf(lines, operating->DevicePath()), {.done = {"identified"}}, "operating");
  ExpectResult(ResultOf(lines, silent->DevicePath()),
               {.code = 11, .error = "the unit did not announce itself", .unfinished = "waiting for the unit's announcement"},
               "silent");

  const Finished human = Zpictl({"info", service->DevicePath(), operating->DevicePath()});
  EXPECT_EQ(human.status, 0);
  // Each port padded to the longer one's width (/dev/pts/9 beside /dev/pts/10).
  const std::size_t width = std::max(service->DevicePath().size(), operating->DevicePath().size());
  const auto padded = [&](const SimUnit& unit) {
    return unit.DevicePath() + std::string(width - unit.DevicePath().size(), ' ');
  };
  EXPECT_NE(human.err.find(padded(*service) + "  ZPi v4.1.2.46  Id: " + IdOf(*service) + "\n"), std::string::npos)
      << human.err;
  EXPECT_NE(human.err.find(padded(*operating) + "  ZPi v41.1.2.45  Id: " + IdOf(*operating) + "  (operating mode)"),
            std::string::npos)
      << human.err;
  EXPECT_NE(human.out.find(padded(*service) + "  OK      ZPi v4.1.2.46  Id: " + IdOf(*service) + "  (identified)"),
            std::string::npos)
      << human.out;
  for (const SimUnit* unit : {service.get(), operating.get(), silent.get()})
    EXPECT_EQ(unit->Counters().frames, 0u) << unit->DevicePath();
}

TEST(Zpictl, ListAndCommands) {
  auto a = Started(Options({.serial = 1}));
  auto b = Started(Options({.serial = 2}));
  const Finished list = Zpictl({"list"}, {"ZPITOOL_EXTRA_PORTS=" + a->DevicePath() + ":" + b->DevicePath()});
  EXPECT_EQ(list.status, 0);
  for (const SimUnit* unit : {a.get(), b.get()})
    EXPECT_NE(("\n" + list.out).find("\n" + unit->DevicePath() + "\n"), std::string::npos) << list.out;
  ExpectUntouched(*a, "list opens no port");

  TempFile file(ConfigFileText(Edited()));
  std::string listing;
  for (const std::string& line : ListRemoteCommands(PanelValuesOf(Edited())).Lines) listing += line + "\n";
  const Finished commands = Zpictl({"commands", file.Path()});
  EXPECT_EQ(commands.status, 0);
  EXPECT_EQ(commands.out, listing);
  EXPECT_NE(listing.find("#CVMX[88,5,42]"), std::string::npos) << "the listing is the file's record: " << listing;
}

TEST(Zpictl, BadUsageIsRefusedBeforeAnyUnitIsTouched) {
  auto unit = Started(Options({}));
  const std::string port = unit->DevicePath();
  TempFile file(ConfigFileText(DefaultConfig()));
  const struct {
    Strings args;
    std::string error;
  } cases[] = {
      {{}, "A subcommand is required"},
      {{"service", port, "--frobnicate"}, "--frobnicate"},
      {{"service", port, "--ventora", "--config", file.Path()}, "--ventora excludes --config"},
      {{"service", port, port}, "zpictl: the port " + port + " is given twice"},
      {{"write", port, port, file.Path()}, "zpictl: the port " + port + " is given twice"},
      {{"write", port}, "PORT... FILE"},
      {{"info", port, "--timeout", "0"}, "--timeout"},
  };
  for (const auto& c : cases) {
    const Finished run = Zpictl(c.args);
    EXPECT_EQ(run.status, 2) << c.error;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
  ExpectUntouched(*unit, "after every refusal");
}

}  // namespace
