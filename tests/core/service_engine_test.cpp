// The service engine against a scripted unit: tables of inputs (frames from the unit, ticks,
// requests, the port closing) and the outputs each one must give, in order. No Qt, no line,
// no clock.
#include "protocol/service_rules.h"
#include "service/service_engine.h"
#include "support/unit_frames.h"
#include "transfer/firmware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t Base = 0x00010000;
const char* const IdLine = "Id: 00000246 00C0FFEE 5A500001";

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char two[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(two, sizeof two, out.empty() ? "%02X" : " %02X", b);
    out += two;
  }
  return out;
}

// Records every output as a line: "send 6 1/44", "ask +500 500", "log ...", "max 44", ...
class Recorder final : public ServiceFrontEnd {
 public:
  std::vector<std::string> events;
  std::vector<std::vector<std::uint8_t>> written;
  bool open = true;
  bool ventora = false;
  bool autoClose = false;
  std::string dateTime = "31/01/202414:05:09";
  const ServiceEngine* engine = nullptr;  // read requests are shown from its base address

  bool PortOpen() override { return open; }
  void Write(std::span<const std::uint8_t> frame) override {
    written.emplace_back(frame.begin(), frame.end());
    const CheckedFrame f = CheckFrame(frame, UnitAddress);
    if (f.outcome == FrameOutcome::Accepted && (f.command == CmdFirmwareBlock || f.command == CmdConfigBlock)) {
      const BlockPayload b = *ParseBlockPayload(f.payload);
      Add("send " + std::to_string(f.command) + " " + std::to_string(b.index) + "/" + std::to_string(b.count));
    } else if (f.outcome == FrameOutcome::Accepted && f.command == CmdConfigRead) {
      const ConfigReadRequest r = *ParseConfigReadRequest(f.payload);
      const std::uint32_t base = engine ? engine->DeviceInfo().ConfigBaseAddress : 0;
      Add("ask +" + std::to_string(r.address - base) + " " + std::to_string(r.count));
    } else {
      Add("write " + Hex(frame));
    }
  }
  void Log(std::string_view line) override { Add("log " + std::string(line)); }
  void LogInRed() override { Add("red"); }
  void ProgressMax(int maximum) override { Add("max " + std::to_string(maximum)); }
  void Progress(int position) override { Add("progress " + std::to_string(position)); }
  void Failure(const ServiceFailure& f) override {
    Add("box " + f.title + ": " + f.text + (f.warningIcon ? " (!)" : ""));
    Deliver(true);  // the box waits for its OK while the window's messages run
  }
  void StartPacing(Pacer p) override { Add(p == Pacer::Transfer ? "start transfer" : "start read"); }
  void StopPacing(Pacer p) override { Add(p == Pacer::Transfer ? "stop transfer" : "stop read"); }
  void CloseSoon(bool usable) override { Add(usable ? "close soon, list usable" : "close soon"); }
  void Identified(const TDeviceInfo&) override { Add("identified"); }
  void ReadStarted() override { Add("read started"); }
  void ConfigRead(const DecodedConfig& d) override { Add(d.errors == 0 ? "read valid" : "read invalid"); }
  void ShowStock(const ConfigRecord& r) override { Add(r == DefaultConfig() ? "stock default" : "stock ventora"); }
  void TransferComplete(std::uint8_t kind) override { Add("complete " + std::to_string(kind)); }
  void LastAckLost() override { Add("last ack lost"); }
  void OperatingMode(const TDeviceInfo* identity) override {
    Add(identity ? "operating mode, identity" : "operating mode");
  }
  bool ForceVentora() override { return ventora; }
  bool AutoClose() override { return autoClose; }
  std::string DateTimeText() override { return dateTime; }

  // Inputs queued while the engine works, delivered (marked "» input") the next time it lets
  // pending messages run, as the window's loop would deliver them; "box: input" waits for a
  // box to be up.
  std::deque<std::string> queued;
  std::function<void(const std::string&)> deliver;
  void ProcessMessages() override { Deliver(false); }
  void Deliver(bool boxUp) {
    std::vector<std::string> now;
    for (auto it = queued.begin(); it != queued.end();) {
      const bool forBox = it->starts_with("box: ");
      if (forBox && !boxUp) {
        ++it;
        continue;
      }
      now.push_back(forBox ? it->substr(5) : *it);
      it = queued.erase(it);
    }
    for (const std::string& input : now) {
      Add("» " + input);
      deliver(input);
    }
  }

 private:
  void Add(std::string event) { events.push_back(std::move(event)); }
};

TDeviceInfo Unit(std::uint8_t kind, std::uint8_t major, std::uint8_t minor, std::uint8_t mode = 1) {
  TDeviceInfo info;
  info.Mode = mode;
  info.Id = {0x5A500001u, 0x00C0FFEEu, 0x00000246u};
  info.Version = {kind, 1, major, minor};
  info.ConfigBaseAddress = Base;
  return info;
}

// One step of a script: an input in words, and the outputs it must give; `during`: inputs
// that arrive while the step runs, delivered where the engine first lets messages run.
struct Step {
  std::string input;
  std::vector<std::string> expected;
  std::vector<std::string> during = {};
};

// An engine with a recorder and a unit's configuration memory, driven by words:
//   info K M.m | info operating | ack N | refusal | short | nostart | elsewhere | notice |
//   answer K | outside | halfack | data6 | twoframes | toolong | cut | badsum | tick | tick read |
//   upload | read | write default | write ventora | jump | connect | close | open | unit invalid |
//   counters (outputs "counters Nacks Code10 Code15 Code20");
// a frame's words ending in " +" send one byte more in the same receive event.
class Script {
 public:
  Recorder front;
  ServiceEngine engine;
  ConfigImage memory = EncodeConfigImage(DefaultConfig()).image;

  explicit Script(ServiceEngine::Options options = {}) : engine(front, options) {
    front.engine = &engine;
    front.deliver = [this](const std::string& input) { Do(input); };
    engine.SeedTokenFallback(7);
  }

  void Do(std::string words) {
    const bool trailing = words.ends_with(" +");
    if (trailing) words.resize(words.size() - 2);
    const auto receive = [&](std::vector<std::uint8_t> bytes) {
      if (trailing) bytes.push_back(0x00);
      engine.Receive(bytes);
    };
    std::istringstream in(words);
    std::string verb, arg;
    in >> verb >> arg;
    if (verb == "info" && arg == "operating") {
      receive(DeviceInfoFrame(Unit(4, 2, 46, 0)));
    } else if (verb == "info") {
      unsigned major = 0, minor = 0;
      std::string version;
      in >> version;
      std::sscanf(version.c_str(), "%u.%u", &major, &minor);
      receive(DeviceInfoFrame(Unit(static_cast<std::uint8_t>(std::stoi(arg)), static_cast<std::uint8_t>(major),
                                   static_cast<std::uint8_t>(minor))));
    } else if (verb == "ack") {
      receive(AckFrame(static_cast<std::uint16_t>(std::stoi(arg))));
    } else if (verb == "refusal") {
      receive(BuildFrame(CmdRefusal, {}, UnitToTool));
    } else if (verb == "short") {
      receive(std::vector<std::uint8_t>{0xBC, 0x12, 0x02});
    } else if (verb == "nostart") {
      receive(std::vector<std::uint8_t>(9, 0x55));
    } else if (verb == "elsewhere") {
      receive(BuildFrame(CmdOperatingMode, {}, 0x11));
    } else if (verb == "notice") {
      receive(BuildFrame(CmdOperatingMode, {}, UnitToTool));
    } else if (verb == "answer") {
      receive(ReadAnswerFrame(memory, engine.DeviceInfo().ConfigBaseAddress,
                              static_cast<std::uint32_t>(std::stoi(arg))));
    } else if (verb == "outside") {  // an answer that would reach past the receive image
      std::vector<std::uint8_t> payload = ConfigReadRequestPayload(engine.DeviceInfo().ConfigBaseAddress + 2000, 40);
      payload.resize(payload.size() + 40, 0xEE);
      receive(BuildFrame(CmdConfigRead, payload, UnitToTool));
    } else if (verb == "halfack") {  // an acknowledgement without its whole index
      receive(BuildFrame(CmdAck, std::vector<std::uint8_t>{0x00}, UnitToTool));
    } else if (verb == "data6") {
      receive(BuildFrame(CmdConfigRead, ConfigReadRequestPayload(Base, 0), UnitToTool));
    } else if (verb == "toolong") {  // a length field above 1019
      receive({0xBC, 0x12, 0x02, 0x04, 0x00, 0x00, 0x01, 0x00});
    } else if (verb == "cut") {  // a length field reaching past the bytes received
      receive({0xBC, 0x12, 0x02, 0x00, 0x10, 0x00, 0x01, 0x00});
    } else if (verb == "badsum") {
      std::vector<std::uint8_t> ack = AckFrame(1);
      ack.back() ^= 0x01;
      receive(ack);
    } else if (verb == "twoframes") {
      std::vector<std::uint8_t> both = AckFrame(1);
      const std::vector<std::uint8_t> second = AckFrame(2);
      both.insert(both.end(), second.begin(), second.end());
      receive(both);
    } else if (verb == "tick" && arg == "read") {
      engine.TickRead();
    } else if (verb == "tick") {
      engine.TickTransfer();
    } else if (verb == "upload") {
      engine.UploadFirmware();
    } else if (verb == "read") {
      engine.ReadConfig();
    } else if (verb == "write") {
      engine.WriteConfig(arg == "ventora" ? VentoraPreset() : DefaultConfig());
    } else if (verb == "jump") {
      engine.Jump();
    } else if (verb == "connect") {
      engine.NewConnection();
    } else if (verb == "unit" && arg == "invalid") {
      memory = ConfigImage{};
    } else if (verb == "close") {
      front.open = false;
    } else if (verb == "open") {
      front.open = true;
    } else if (verb == "counters") {
      const TransferState& t = engine.Transfer();
      front.events.push_back("counters " + std::to_string(t.Nacks) + " " + std::to_string(t.Code10) + " " +
                             std::to_string(t.Code15) + " " + std::to_string(t.Code20));
    } else {
      ADD_FAILURE() << "no such step: " << words;
    }
  }

  // Runs the steps, each against exactly its expected outputs.
  void Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      front.events.clear();
      front.queued.assign(step.during.begin(), step.during.end());
      Do(step.input);
      EXPECT_EQ(front.events, step.expected) << "after \"" << step.input << "\"";
    }
  }
};

// The outputs of the steps of a transfer acknowledged frame by frame: acks from..to of a
// transfer of `kind` with `count` frames, each sending the next frame.
std::vector<Step> Acks(int kind, int from, int to, int count) {
  std::vector<Step> steps;
  for (int i = from; i <= to; ++i) {
    Step s{"ack " + std::to_string(i), {}};
    if (i == 1) s.expected.push_back(kind == 1 ? "log Atualizando firmware..." : "log Atualizando configuração...");
    s.expected.push_back("send " + std::to_string(kind) + " " + std::to_string(i + 1) + "/" + std::to_string(count));
    s.expected.push_back("progress " + std::to_string(i + 1));
    steps.push_back(std::move(s));
  }
  return steps;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> ReadStart = {"max 5", "read started", "log Buscando configuração interna...",
                                            "start read", "ask +0 500"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The five answers of a read, up to (not including) the last one's verdict.
std::vector<Step> Answers() {
  return {{"answer 1", {"progress 2", "ask +500 500"}},
          {"answer 2", {"progress 3", "ask +1000 500"}},
          {"answer 3", {"progress 4", "ask +1500 500"}},
          {"answer 4", {"progress 5", "ask +2000 32"}}};
}

const std::vector<std::string> WriteStart = {"max 44", "log Iniciando atualização...", "start transfer", "send 6 1/44",
                                             "progress 1"};
const std::vector<std::string> WriteDone = {"stop transfer", "progress 0", "log Atualização concluída com sucesso!",
                                            "complete 6"};
// The five lines and the close, after the event that says where the news came from.
const std::vector<std::string> OperatingNotice = {
    "log O ZPi foi detectado em modo de operação!",
    "log 1-Desconectar todos os chicotes",
    "log 2-Conectar apenas o cabo USB",
    "log 3-Aguardar o Windows criar a porta (5 segundos)",
    "log 4-Rodar o ZPiTool e abrir a porta COM criada",
    "close soon"};

}  // namespace

// ---- The automatic service -------------------------------------------------------------------

TEST(ServiceEngine, ACurrentUnitIsIdentifiedReadAndShown) {
  Script s;
  s.Run(std::vector<Step>{{"info 4 2.46", With({"log ZPi v4.1.2.46\r\n" + std::string(IdLine), "identified",
                                                "log O ZPi está atualizado!"},
                                               ReadStart)}} +
        Answers() +
        std::vector<Step>{{"answer 5", {"stop read", "progress 0", "read valid",
                                        "log Leitura da configuração interna concluída!"}}});
  EXPECT_TRUE(s.engine.IdentityHandled());
  EXPECT_EQ(s.engine.RxImage(), s.memory);
}

TEST(ServiceEngine, AnInvalidConfigurationIsReplacedByTheStockRecord) {
  struct Case {
    bool ventora;
    ConfigImage memory;
    const char* line;
    const char* stock;
    const ConfigRecord& written;
  };
  const Case cases[] = {
      {false, ConfigImage{}, "log Preparando configuração padrão...", "stock default", DefaultConfig()},
      {true, ConfigImage{}, "log Preparando configuração Ventora...", "stock ventora", VentoraPreset()},
      // Valid, but not the preset that the option forces.
      {true, EncodeConfigImage(DefaultConfig()).image, "log Preparando configuração Ventora...", "stock ventora",
       VentoraPreset()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Script s;
    s.front.ventora = c.ventora;
    s.memory = c.memory;
    s.Run(std::vector<Step>{{"read", ReadStart}} + Answers() +
          std::vector<Step>{{"answer 5", With({"stop read", "progress 0", "read invalid", "red",
                                               "log Configuração inválida!", c.line, c.stock},
                                              WriteStart)}} +
          Acks(6, 1, 43, 44) + std::vector<Step>{{"ack 44", WriteDone}});
    EXPECT_EQ(s.engine.TxConfig().image, EncodeConfigImage(c.written).image);
  }
}

TEST(ServiceEngine, AnInvalidReadOnlyReportsWhenTheFrontEndDecides) {
  Recorder front;
  ServiceEngine engine(front, ServiceEngine::Options{.rewriteInvalid = false});
  engine.ReadConfig();
  for (std::uint32_t k = 1; k <= ReadBlockCount; ++k) engine.Receive(ReadAnswerFrame(ConfigImage{}, 0, k));
  const std::vector<std::string> tail(front.events.end() - 4, front.events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"progress 0", "read invalid", "red", "log Configuração inválida!"}));
  EXPECT_FALSE(engine.Pacing(Pacer::Transfer));
}

TEST(ServiceEngine, OldFirmwareIsUploadedAndTheRestartedUnitJudgedAfresh) {
  Script s;
  s.Run(std::vector<Step>{{"info 4 2.45", {"log ZPi v4.1.2.45\r\n" + std::string(IdLine), "identified", "max 1888",
                                           "log Iniciando atualização...", "start transfer", "send 1 1/1888",
                                           "progress 1"}}} +
        Acks(1, 1, 1887, 1888) +
        std::vector<Step>{
            {"ack 1888",
             {"stop transfer", "progress 0", "log Atualização concluída com sucesso!", "log ", "complete 1"}},
            {"info 4 2.46",
             With({"log ZPi v4.1.2.46\r\n" + std::string(IdLine), "identified", "log O ZPi está atualizado!"},
                  ReadStart)}});
  // Frame 1887 carries the image's last 20 bytes, frame 1888 its trailer; one token throughout.
  const auto block = [&](std::size_t i) { return *ParseBlockPayload(CheckFrame(s.front.written[i], UnitAddress).payload); };
  const std::span<const std::uint8_t> image = FirmwareImage();
  EXPECT_TRUE(std::equal(block(1886).data.begin(), block(1886).data.end(), image.end() - 20, image.end()));
  EXPECT_EQ(block(1886).data.size(), 20u);
  EXPECT_EQ(std::vector<std::uint8_t>(block(1887).data.begin(), block(1887).data.end()),
            (std::vector<std::uint8_t>{0xC0, 0x00, 0x78, 0xEB, 0x6A}));
  for (std::size_t i = 0; i < 1888; ++i) ASSERT_EQ(block(i).token, block(0).token) << i;
}

TEST(ServiceEngine, AnAnnouncementAtTheCarriedFirmwareCompletesAnUploadWhoseLastAckWasLost) {
  const std::vector<std::string> completed =
      With({"stop transfer", "progress 0", "last ack lost", "complete 1", "log ZPi v4.1.2.46\r\n" + std::string(IdLine),
            "identified", "log O ZPi está atualizado!"},
           ReadStart);
  struct Case {
    const char* name;
    bool option;
    int acked;  // frames acknowledged before the announcement; 1887: the last frame is out
    const char* info;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"without the option (the window)", false, 1887, "info 4 2.46", {}},
      {"after the last frame went out", true, 1887, "info 4 2.46", completed},
      {"before the last frame went out", true, 1886, "info 4 2.46", {}},
      {"at the old firmware", true, 1887, "info 4 2.45", {}},
      {"in operating mode", true, 1887, "info operating", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s(ServiceEngine::Options{.announcementCompletesUpload = c.option});
    s.Do("info 4 2.45");
    for (int i = 1; i <= c.acked; ++i) s.Do("ack " + std::to_string(i));
    s.Run({{c.info, c.expected}});
    if (!c.expected.empty()) continue;
    // Not taken as the restart: the last frame goes on being resent until the transfer gives up.
    for (int tick = 0; tick < 10; ++tick) s.Do("tick");
    ASSERT_FALSE(s.front.events.empty());
    EXPECT_EQ(s.front.events.back(), "progress 0");
    EXPECT_TRUE(std::find(s.front.events.begin(), s.front.events.end(),
                          "box ERRO #0x02: A operação não foi concluida!\r\nNacks = 0\r\nCode10 = 0\r\nCode15 = "
                          "0\r\nCode20 = 0") != s.front.events.end());
  }
}

TEST(ServiceEngine, WhatAnIdentityStarts) {
  struct Case {
    const char* info;
    std::vector<std::string> after;  // after the identity line and "identified"
  };
  const std::vector<std::string> upload = {"max 1888", "log Iniciando atualização...", "start transfer",
                                           "send 1 1/1888", "progress 1"};
  const Case cases[] = {
      {"info 4 2.46", With({"log O ZPi está atualizado!"}, ReadStart)},
      {"info 41 2.200", With({"log O ZPi está atualizado!"}, ReadStart)},
      {"info 3 3.0", With({"log O ZPi está atualizado!"}, ReadStart)},
      {"info 4 255.0", With({"log O ZPi está atualizado!"}, ReadStart)},
      {"info 3 2.45", upload},
      {"info 41 1.99", upload},
      {"info 4 255.255", upload},
      {"info 4 99.50", upload},
      {"info 2 2.46", With({"red", "log Essa versão do zpi está descontinuada, entre em contato com a Kestrona para "
                                   "mais informações!"},
                           ReadStart)},
      {"info 5 2.46", {}},  // a kind the tool does not serve: its identity line only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.info);
    Script s;
    s.Do(c.info);
    ASSERT_GE(s.front.events.size(), 2u);
    EXPECT_EQ(s.front.events[1], "identified");
    EXPECT_EQ(std::vector<std::string>(s.front.events.begin() + 2, s.front.events.end()), c.after);
  }
}

TEST(ServiceEngine, AnIdentityOnlyTakenInStartsNothing) {
  Recorder front;
  ServiceEngine engine(front, ServiceEngine::Options{.actOnIdentity = false});
  engine.Receive(DeviceInfoFrame(Unit(4, 2, 45)));
  EXPECT_EQ(front.events, (std::vector<std::string>{"log ZPi v4.1.2.45\r\n" + std::string(IdLine), "identified"}));
  EXPECT_TRUE(engine.IdentityHandled());
}

TEST(ServiceEngine, ASecondIdentityIsIgnoredUntilANewConnection) {
  Script s;
  s.Run({{"info 5 2.46", {"log ZPi v5.1.2.46\r\n" + std::string(IdLine), "identified"}},
         {"info 4 2.46 +", {}},
         {"counters", {"counters 0 0 0 1"}},  // ignored, yet handled to its end: trailing bytes count
         {"close", {}},
         {"open", {}},
         {"connect", {}}});
  EXPECT_EQ(s.engine.DeviceInfo().Version[0], 5);  // the unit last heard, across the reconnect
  s.Run({{"info 4 2.46", With({"log ZPi v4.1.2.46\r\n" + std::string(IdLine), "identified",
                               "log O ZPi está atualizado!"},
                              ReadStart)}});
  EXPECT_EQ(s.engine.DeviceInfo().Version[0], 4);
}

TEST(ServiceEngine, OperatingModeGetsTheNoticeAndAClose) {
  Script s;
  s.Run({{"info operating +", With({"operating mode, identity"}, OperatingNotice)},
         {"counters", {"counters 0 0 0 0"}},  // an early end: no trailing bytes counted
         // The identity stays unhandled: the unit's next announcement is acted on.
         {"info 5 2.46", {"log ZPi v5.1.2.46\r\n" + std::string(IdLine), "identified"}},
         {"notice", With({"operating mode"}, OperatingNotice)},
         {"info 4 2.46", {}}});  // the notice left the identity handled
}

TEST(ServiceEngine, AConfigurationWriteClosesThePortOnlyForKinds4And41AtTheCarriedFirmware) {
  struct Case {
    const char* info;
    bool autoClose;
    bool closes;
  };
  for (const Case c : {Case{"info 4 2.46", true, true}, Case{"info 41 2.46", true, true},
                       Case{"info 3 2.46", true, false}, Case{"info 4 2.47", true, false},
                       Case{"info 4 2.46", false, false}}) {
    SCOPED_TRACE(std::string(c.info) + (c.autoClose ? " auto-close" : ""));
    Script s;
    s.front.autoClose = c.autoClose;
    s.Do(c.info);
    for (const char* answer : {"answer 1", "answer 2", "answer 3", "answer 4", "answer 5"}) s.Do(answer);
    s.Run(std::vector<Step>{{"write default", WriteStart}} + Acks(6, 1, 43, 44) +
          std::vector<Step>{{"ack 44", c.closes ? With(WriteDone, {"close soon, list usable"}) : WriteDone}});
  }
}

// ---- Silence, refusals and odd answers ---------------------------------------------------

TEST(ServiceEngine, SilenceBringsResendsAtTicksThreeFiveSevenAndTheGiveUpAtTen) {
  const std::vector<std::string> resend = {"send 6 1/44", "progress 1"};
  Script s;
  s.Run({{"write default", WriteStart},
         {"tick", {}},
         {"tick", {}},
         {"tick", resend},
         {"tick", {}},
         {"tick", resend},
         {"tick", {}},
         {"tick", resend},
         {"tick", {}},
         {"tick", {}},
         {"tick",
          {"stop transfer",
           "box ERRO #0x02: A operação não foi concluida!\r\nNacks = 0\r\nCode10 = 0\r\nCode15 = 0\r\nCode20 = 0",
           "progress 0"}}});
}

TEST(ServiceEngine, AReadMeetingSilenceGivesUpWithAWarning) {
  const std::vector<std::string> resend = {"ask +0 500"};
  Script s;
  s.Run({{"read", ReadStart},
         {"tick read", {}},
         {"tick read", {}},
         {"tick read", resend},
         {"tick read", {}},
         {"tick read", resend},
         {"tick read", {}},
         {"tick read", resend},
         {"tick read", {}},
         {"tick read", {}},
         {"tick read", {"stop read", "box ERRO #0x04: A operação não pode ser concluida! (!)", "progress 0"}},
         {"answer 1", {"progress 2"}}});  // the read no longer paces: nothing is asked for
}

TEST(ServiceEngine, RefusalsAndShortReadsTickATransferAndShowInItsGiveUp) {
  Script s;
  s.Run({{"write default", WriteStart},
         {"refusal", {}},
         {"refusal", {}},
         {"tick", {"send 6 1/44", "progress 1"}},  // the third silent tick resends
         {"short", {}},
         {"nostart", {}},
         {"elsewhere", {"log Destino inválido!"}},
         // Too long, cut short, a bad sum: dropped without a trace, and no tick.
         {"toolong", {}},
         {"cut", {}},
         {"badsum", {}},
         {"tick", {"send 6 1/44", "progress 1"}},
         {"tick", {}},
         {"tick", {"send 6 1/44", "progress 1"}},
         {"tick", {}},
         {"tick", {}},
         {"tick",
          {"stop transfer",
           "box ERRO #0x02: A operação não foi concluida!\r\nNacks = 2\r\nCode10 = 1\r\nCode15 = 1\r\nCode20 = 0",
           "progress 0"}},
         // The counters start again with every read and every transfer.
         {"read", ReadStart},
         {"counters", {"counters 0 0 0 0"}},
         {"refusal +", {}},
         {"short", {}},
         {"counters", {"counters 1 1 0 1"}},
         {"write default", With({"stop read"}, WriteStart)},
         {"counters", {"counters 0 0 0 0"}}});
}

TEST(ServiceEngine, RefusalsAndShortReadsDoNotTickARead) {
  Script s;
  s.Run({{"read", ReadStart},
         {"refusal", {}},
         {"short", {}},
         {"refusal", {}},
         {"tick read", {}},
         {"tick read", {}},
         {"tick read", {"ask +0 500"}}});  // silence alone counted: 3 ticks, not 6
  EXPECT_EQ(s.engine.Transfer().Nacks, 2u);
  EXPECT_EQ(s.engine.Transfer().Code10, 1u);
}

TEST(ServiceEngine, AcknowledgementsOutsideTheRunningFrame) {
  Script s;
  s.Run({// No transfer under way: judged against the block count set last (0 at start).
         {"ack 0", {"stop transfer", "progress 0", "log Atualização concluída com sucesso!", "complete 0"}},
         {"write default", WriteStart},
         {"ack 1", {"log Atualizando configuração...", "send 6 2/44", "progress 2"}},
         // The same acknowledgement again (after a resend): its line again, frame 2 again.
         {"ack 1", {"log Atualizando configuração...", "send 6 2/44", "progress 2"}},
         // Any index at or above the count ends the transfer.
         {"ack 60", WriteDone},
         {"ack 3", {}},
         // Two frames in one event: the first is handled, the event counted as trailing bytes.
         {"twoframes", {"log Atualizando configuração..."}}});
  EXPECT_EQ(s.engine.Transfer().Code20, 1u);
}

TEST(ServiceEngine, ReadAnswersOutOfOrderOrEmpty) {
  Script s;
  s.Run({{"read", ReadStart},
         // Configuration data with L = 6 (no data byte) is ignored and counted nowhere, not even
         // as trailing bytes; so are an answer that would land outside the receive image and a
         // cut acknowledgement.
         {"data6 +", {}},
         {"outside", {}},
         {"halfack", {}},
         // The answer for block 5 arriving first ends the read with what the image holds.
         {"answer 5", {"stop read", "progress 0", "read invalid", "red", "log Configuração inválida!",
                       "log Preparando configuração padrão...", "stock default", "max 44",
                       "log Iniciando atualização...", "start transfer", "send 6 1/44", "progress 1"}}});
  const TransferState& t = s.engine.Transfer();
  EXPECT_EQ(t.Code10 + t.Code15 + t.Code20 + t.Nacks, 0u);
  EXPECT_TRUE(std::all_of(s.engine.RxImage().begin(), s.engine.RxImage().begin() + 2000, [](std::uint8_t b) { return b == 0; }));
}

TEST(ServiceEngine, AClosedPortEndsTransfersAndReadsWithTheirBoxes) {
  Script s;
  s.Run({{"close", {}},
         {"write default", {"max 44", "stop transfer", "progress 0", "box ERRO #0x01: Não há conexão ativa!"}},
         {"read",
          {"max 5", "read started", "log Buscando configuração interna...", "stop read", "progress 0",
           "box ERRO #0x03: Não há conexão ativa!"}},
         {"jump", {}},
         {"open", {}},
         {"jump", {"write BC 21 05 00 00 00 00 E2"}}});
  EXPECT_TRUE(s.front.written.size() == 1);
}

TEST(ServiceEngine, APortThatClosesMidTransferEndsItAtTheNextTick) {
  Script s;
  s.Run({{"write default", WriteStart},
         {"ack 1", {"log Atualizando configuração...", "send 6 2/44", "progress 2"}},
         {"close", {}},
         {"tick", {"stop transfer", "progress 0", "box ERRO #0x01: Não há conexão ativa!"}}});
}

TEST(ServiceEngine, TheFirmwareGoesOnlyToKindsThatTakeIt) {
  Script s;
  s.Run({{"info 5 2.46", {"log ZPi v5.1.2.46\r\n" + std::string(IdLine), "identified"}},
         {"write default", WriteStart},
         // The data in hand is the configuration: it must never go out as firmware.
         {"upload", {}}});
}

TEST(ServiceEngine, ATransferAndAReadNeverRunTogether) {
  Script s;
  s.Run({{"read", ReadStart},
         {"write default", With({"stop read"}, WriteStart)},
         // A second write while one runs: frame 1 of the new one, the pacer left ticking.
         {"write ventora", {"max 44", "log Iniciando atualização...", "send 6 1/44", "progress 1"}},
         {"read", With({"stop transfer"}, ReadStart)}});
}

TEST(ServiceEngine, ASecondWriteRestartsWithFrameOneAndANewToken) {
  Script s;
  s.engine.SetTokenShift(5);
  s.Do("write default");
  s.Do("ack 1");
  s.Do("write ventora");
  ASSERT_EQ(s.front.written.size(), 3u);
  const auto block = [&](std::size_t i) { return *ParseBlockPayload(CheckFrame(s.front.written[i], UnitAddress).payload); };
  EXPECT_EQ(block(0).token, 0x4000);  // the date arithmetic at shift 5
  std::uint8_t shift = 6;
  EXPECT_EQ(block(2).token, MakeTransferToken(0xFFFF, s.front.dateTime, shift, [] { return 0u; }));
  EXPECT_EQ(block(2).index, 1);
  const ConfigImage ventora = EncodeConfigImage(VentoraPreset()).image;
  EXPECT_EQ(std::vector<std::uint8_t>(block(2).data.begin(), block(2).data.end()),
            std::vector<std::uint8_t>(ventora.begin(), ventora.begin() + 48));
}

// ---- Inputs that arrive while the engine works --------------------------------------------

TEST(ServiceEngine, InputsDeliveredInsideItsCallsActAsBetweenCalls) {
  const std::string giveUpBox =
      "box ERRO #0x02: A operação não foi concluida!\r\nNacks = 0\r\nCode10 = 0\r\nCode15 = 0\r\nCode20 = 0";
  const std::string identity = "log ZPi v4.1.2.46\r\n" + std::string(IdLine);
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      // An answer taken in while its frame is still being sent runs the next frame at once:
      // nothing lost, nothing sent twice.
      {"ack while frame 1 goes out",
       {{"write default", With(WriteStart, {"» ack 1", "log Atualizando configuração...", "send 6 2/44", "progress 2"}),
         {"ack 1"}},
        {"tick", {}},
        {"ack 2", {"send 6 3/44", "progress 3"}}}},
      // The port closed as the last acknowledgement is taken in changes nothing of its end.
      {"close during the last ack",
       std::vector<Step>{{"write default", WriteStart}} + Acks(6, 1, 43, 44) +
           std::vector<Step>{{"ack 44",
                              {"stop transfer", "progress 0", "» close", "log Atualização concluída com sucesso!",
                               "complete 6"},
                              {"close"}}}},
      // The restarted unit announcing before the upload has ended is not yet acted on; its
      // next announcement is.
      {"identity during the upload's last ack",
       std::vector<Step>{{"info 4 2.45", {"log ZPi v4.1.2.45\r\n" + std::string(IdLine), "identified", "max 1888",
                                          "log Iniciando atualização...", "start transfer", "send 1 1/1888",
                                          "progress 1"}}} +
           Acks(1, 1, 1887, 1888) +
           std::vector<Step>{{"ack 1888",
                              {"stop transfer", "progress 0", "» info 4 2.46",
                               "log Atualização concluída com sucesso!", "log ", "complete 1"},
                              {"info 4 2.46"}},
                             {"info 4 2.46", With({identity, "identified", "log O ZPi está atualizado!"}, ReadStart)}}},
      // An invalid configuration whose last answer comes in as the port closes: the stock
      // record cannot go out, and says so.
      {"close during the read's last answer",
       std::vector<Step>{{"unit invalid", {}}, {"read", ReadStart}} + Answers() +
           std::vector<Step>{{"answer 5",
                              {"stop read", "» close", "progress 0", "read invalid", "red", "log Configuração inválida!",
                               "log Preparando configuração padrão...", "stock default", "max 44", "stop transfer",
                               "progress 0", "box ERRO #0x01: Não há conexão ativa!"},
                              {"close"}}}},
      // As a transfer gives up, the technician closes and reopens the port and a unit
      // announces itself: its read starts, the box follows, and the read goes on after it.
      {"reconnect as the transfer gives up",
       std::vector<Step>{{"write default", WriteStart}, {"tick", {}}, {"tick", {}}, {"tick", {"send 6 1/44", "progress 1"}},
                         {"tick", {}}, {"tick", {"send 6 1/44", "progress 1"}}, {"tick", {}},
                         {"tick", {"send 6 1/44", "progress 1"}}, {"tick", {}}, {"tick", {}},
                         {"tick",
                          With(With({"stop transfer", "» close", "» open", "» connect", "» info 4 2.46", identity,
                                     "identified", "log O ZPi está atualizado!"},
                                    ReadStart),
                               {giveUpBox, "progress 0"}),
                          {"close", "open", "connect", "info 4 2.46"}}} +
           Answers()},
      // A second failure while the first box is up shows its own box; the first then ends.
      {"a read's failure under the transfer's box",
       {{"close", {}},
        {"write default",
         {"max 44", "stop transfer", "progress 0", "box ERRO #0x01: Não há conexão ativa!", "» read", "max 5",
          "read started", "log Buscando configuração interna...", "stop read", "progress 0",
          "box ERRO #0x03: Não há conexão ativa!"},
         {"box: read"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s;
    s.Run(c.steps);
    EXPECT_TRUE(s.front.queued.empty()) << "not delivered: " << s.front.queued.front();
  }
}
