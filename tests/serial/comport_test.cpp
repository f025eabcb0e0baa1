// The serial component on real pseudo-terminals, what only POSIX has: terminal settings,
// device names, the port list. The component opens the slave side and the test plays the unit
// on the master side; the tests every system shares are in comport_line_test.cpp.
#include "serial/comport.h"
#include "support/peer_line.h"
#include "support/pty_pair.h"
#include "support/ui_loop.h"

#include <gtest/gtest.h>

// System
#include <asm/termbits.h>
#include <sys/ioctl.h>

// Std
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using namespace ui_loop;

namespace {

// The master side of a pseudo-terminal: what it writes the slave reads, and closing it hangs
// the slave up. Bytes written are in the slave's queue as Write returns.
class PtyLine final : public comport_line::PeerLine {
 public:
  PtyLine()
      : PeerLine({.timerSlackMs = 2,
                  .relayed = false,
                  .limitedWritePassesSome = true,
                  .hangUpError = EIO,
                  .noHangUp = {}}) {}
  [[nodiscard]] std::string PortName() const override { return pty.SlavePath(); }
  bool Write(const Bytes& bytes) override { return pty.Write(bytes); }
  [[nodiscard]] Bytes Read(std::size_t count, std::chrono::milliseconds limit) override {
    return pty.Read(count, limit);
  }
  void Drain() override { pty.Drain(); }
  void HangUp() override { pty.HangUp(); }

  PtyPair pty;
};

}  // namespace

void comport_line::OpenPeerLine(std::unique_ptr<PeerLine>& line) {
  auto pty = std::make_unique<PtyLine>();
  ASSERT_TRUE(pty->pty.Ok());
  line = std::move(pty);
}

namespace {

class ComPortTest : public comport_line::ComPortLineTest {
 protected:
  PtyPair& Pty() { return static_cast<PtyLine&>(*line).pty; }
};

// ---- Opening and settings ------------------------------------------------------------------

TEST_F(ComPortTest, OpensRaw8N1AtTheCustomRateWithoutFlowControl) {
  ASSERT_NO_THROW(port.Open());
  ASSERT_TRUE(port.Connected());
  EXPECT_EQ(port.AppliedBaudRate(), 3686400);

  // Terminal settings made through the master are the slave's.
  termios2 tio{};
  ASSERT_EQ(::ioctl(Pty().Master(), TCGETS2, &tio), 0);
  EXPECT_EQ(tio.c_ospeed, 3686400u);
  EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST_F(ComPortTest, ShortNameOpensUnderDevAndLongNamesWork) {
  ASSERT_EQ(line->PortName().rfind("/dev/", 0), 0u);
  port.Port = line->PortName().substr(5);  // "pts/N"
  EXPECT_NO_THROW(port.Open());
  EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortTest, BaudRateChangesApplyOnlyWhenOpenAndChanged) {
  port.SetCustomBaudRate(115200);  // closed: recorded only
  EXPECT_EQ(port.CustomBaudRate(), 115200);
  EXPECT_EQ(port.AppliedBaudRate(), 0);
  port.Open();
  EXPECT_EQ(port.AppliedBaudRate(), 115200);

  port.SetCustomBaudRate(3686400);  // open: applied at once
  EXPECT_EQ(port.AppliedBaudRate(), 3686400);

  // An unchanged value applies nothing: a rate changed behind the component's back stays.
  termios2 tio{};
  ASSERT_EQ(::ioctl(Pty().Master(), TCGETS2, &tio), 0);
  tio.c_ispeed = tio.c_ospeed = 9600;
  ASSERT_EQ(::ioctl(Pty().Master(), TCSETS2, &tio), 0);
  port.SetCustomBaudRate(3686400);
  ASSERT_EQ(::ioctl(Pty().Master(), TCGETS2, &tio), 0);
  EXPECT_EQ(tio.c_ospeed, 9600u);

  EXPECT_THROW(port.SetCustomBaudRate(-5), EComPort);
}

TEST_F(ComPortTest, MissingDeviceFailsWithCode1AndErrno2AndOpensLater) {
  for (const char* name : {"/dev/zpi-no-such-port", "ttyZPiNoSuchPort42"}) {
    port.Port = name;
    try {
      port.Open();
      ADD_FAILURE() << name << " opened";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.Code(), 1) << name;
      EXPECT_EQ(e.WinCode(), 2) << name;
      EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
  }
  port.Port = line->PortName();
  EXPECT_NO_THROW(port.Open());
  EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortTest, SecondOpeningOfAHeldPortFailsUntilItIsReleased) {
  port.Open();
  TComPort second;
  second.Port = line->PortName();
  second.SetCustomBaudRate(3686400);
  try {
    second.Open();
    ADD_FAILURE() << "a held port opened twice";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 1);
  }
  EXPECT_FALSE(second.Connected());
  EXPECT_TRUE(port.Connected());

  port.Close();
  EXPECT_NO_THROW(second.Open());
  EXPECT_TRUE(second.Connected());
}

TEST_F(ComPortTest, NotATerminalFailsToOpenAndStaysClosed) {
  port.Port = "/dev/null";
  EXPECT_THROW(port.Open(), EComPort);
  EXPECT_FALSE(port.Connected());
}

// ---- Announcements -------------------------------------------------------------------------

TEST_F(ComPortTest, HandlerFailureGoesToOnHandlerErrorAndAnnouncementsGoOn) {
  std::vector<std::string> errors;
  port.OnHandlerError = [&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      errors.emplace_back(x.what());
    }
  };
  bool fail = true;
  port.OnRxChar = [&](TCustomComPort& sender, int count) {
    Bytes buffer(static_cast<std::size_t>(count));
    sender.Read(buffer.data(), count);
    counts.push_back(count);
    if (fail) throw std::runtime_error("handler failed");
  };
  port.Open();
  ASSERT_TRUE(line->Write(Sequence(3)));
  ASSERT_TRUE(loop.RunUntil([&] { return errors.size() == 1; }));
  EXPECT_EQ(errors.front(), "handler failed");

  fail = false;
  ASSERT_TRUE(line->Write(Sequence(6)));
  ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts, (std::vector<int>{3, 6}));
  EXPECT_EQ(errors.size(), 1u);
}

TEST_F(ComPortTest, HandlerFailureWithoutASinkLeavesRunQueuedAfterReleasingTheThread) {
  bool fail = true;
  port.OnRxChar = [&](TCustomComPort& sender, int count) {
    Bytes buffer(static_cast<std::size_t>(count));
    sender.Read(buffer.data(), count);
    counts.push_back(count);
    if (fail) throw std::logic_error("boom");
  };
  port.Open();
  ASSERT_TRUE(line->Write(Sequence(2)));
  ASSERT_TRUE(loop.WaitPending(1));
  EXPECT_THROW(loop.handOff->RunQueued(), std::logic_error);

  fail = false;
  ASSERT_TRUE(line->Write(Sequence(7)));
  ASSERT_TRUE(loop.RunUntil([&] { return counts.size() == 2; }));
  EXPECT_EQ(counts.back(), 7);
}

TEST_F(ComPortTest, HandlerFailureDuringCloseStillClosesAndIsPassedOn) {
  port.OnRxChar = [&](TCustomComPort&, int) { throw std::runtime_error("late"); };
  port.Open();
  ASSERT_TRUE(line->Write(Sequence(4)));
  ASSERT_TRUE(loop.WaitPending(1));
  EXPECT_THROW(port.Close(), std::runtime_error);
  EXPECT_FALSE(port.Connected());
  EXPECT_NO_THROW(port.Open());
}

// ---- Hang-up -------------------------------------------------------------------------------

TEST_F(ComPortTest, BytesSentJustBeforeAHangUpAreAnnouncedFirst) {
  port.Open();
  ASSERT_TRUE(line->Write(Sequence(6)));
  ASSERT_TRUE(WaitFor([&] { return port.InputCount() == 6; }));
  line->HangUp();
  ASSERT_TRUE(loop.RunUntil([&] { return hangUps == 1; }));
  // Whether the tty keeps bytes past a hang-up is the kernel's business; what the port
  // announced it must have been able to hand out, and never twice.
  EXPECT_LE(counts.size(), 1u);
  if (!counts.empty()) {
    EXPECT_EQ(received, Sequence(6));
  }
}

TEST_F(ComPortTest, HangUpWhileClosingIsNotAnnounced) {
  port.Open();
  line->HangUp();
  ASSERT_TRUE(loop.WaitPending(1));
  port.Close();
  EXPECT_EQ(hangUps, 0);
  EXPECT_EQ(loop.handOff->Pending(), 0u);
}

// ---- A closed port -------------------------------------------------------------------------

TEST_F(ComPortTest, OperationsOnAClosedPortFailWithTheirCodes) {
  char b[4] = {};
  const auto codeOf = [](auto&& f) {
    try {
      f();
    } catch (const EComPort& e) {
      return e.Code();
    }
    return 0;
  };
  EXPECT_EQ(codeOf([&] { (void)port.Read(b, 4); }), 3);
  EXPECT_EQ(codeOf([&] { (void)port.Write(b, 4); }), 2);
  EXPECT_EQ(codeOf([&] { port.ClearBuffer(true, true); }), 5);
  EXPECT_EQ(codeOf([&] { (void)port.InputCount(); }), 10);
  port.Open();
  EXPECT_EQ(port.Read(b, 0), 0);
  EXPECT_EQ(port.Read(b, -3), 0);
  EXPECT_EQ(codeOf([&] { (void)port.Read(nullptr, 4); }), 3);
}

// ---- Errors, masks, names ------------------------------------------------------------------

TEST(ComPortErrors, MessageIsTheTextFollowedByTheSystemCode) {
  const struct {
    int code;
    const char* text;
  } table[] = {{1, "Unable to open com port"},       {2, "WriteFile function failed"},
               {3, "ReadFile function failed"},      {5, "PurgeComm function failed"},
               {7, "SetCommState function failed"},  {8, "SetCommTimeouts failed"},
               {9, "SetupComm function failed"},     {10, "ClearCommError function failed"},
               {23, "Registry error"}};
  for (const auto& row : table) {
    const EComPort e(row.code, 17);
    EXPECT_EQ(std::string(e.what()), std::string(row.text) + " (win error code: 17)");
    EXPECT_EQ(e.Code(), row.code);
    EXPECT_EQ(e.WinCode(), 17);
  }
  EXPECT_STREQ(EComPort(1, -1).what(), "Unable to open com port (win error code: -1)");
}

TEST(ComPortEvents, EachEventHasItsOwnMaskBitAndTheMappingRoundTrips) {
  EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
  const std::uint32_t bits[] = {0x0001, 0x0004, 0x0002, 0x0100, 0x0040, 0x0008, 0x0010, 0x0080, 0x0020, 0x0400};
  for (int e = evRxChar; e <= evRx80Full; ++e)
    EXPECT_EQ(EventsToMask(static_cast<TComEvents>(1u << e)), bits[e]) << e;
  for (unsigned set = 0; set <= AllComEvents; ++set)
    ASSERT_EQ(MaskToEvents(EventsToMask(static_cast<TComEvents>(set))), set);
  EXPECT_EQ(MaskToEvents(0xFFFFFFFFu), AllComEvents);  // unknown bits are dropped
}

TEST(ComPortNames, SortIgnoresCase) {
  const struct {
    std::vector<std::string> in, out;
  } table[] = {
      {{"COM2", "COM10", "COM1"}, {"COM1", "COM10", "COM2"}},
      {{"ttyUSB0", "ttyACM1", "TTYacm0"}, {"TTYacm0", "ttyACM1", "ttyUSB0"}},
      {{"b", "A", "a", "B"}, {"A", "a", "b", "B"}},  // equal ignoring case: order kept
      {{"COM1", "COM"}, {"COM", "COM1"}},
      {{}, {}},
  };
  for (auto row : table) {
    SortComPortNames(row.in);
    EXPECT_EQ(row.in, row.out);
  }
}

class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~EnvVar() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ComPortNames, EnumerationAddsTheExtraPortsSortedAndReplacesTheList) {
  EnvVar extra("ZPITOOL_EXTRA_PORTS", "/tmp/zpi-b::/tmp/ZPI-a:/tmp/zpi-b:");
  std::vector<std::string> ports = {"stale entry"};
  ASSERT_NO_THROW(EnumComPorts(ports));
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "/tmp/ZPI-a"), 1);
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "/tmp/zpi-b"), 1);
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "stale entry"), 0);
  EXPECT_EQ(std::count(ports.begin(), ports.end(), ""), 0);
  auto sorted = ports;
  SortComPortNames(sorted);
  EXPECT_EQ(ports, sorted);
  // /sys entries are short names; virtual consoles have no device behind them.
  for (const auto& name : ports) {
    if (name.front() != '/') {
      EXPECT_EQ(name.find('/'), std::string::npos) << name;
    }
    EXPECT_NE(name, "tty0");
    EXPECT_NE(name, "console");
  }
}

// A tty class folder of our own making: what has a device, what is a UART-less slot.
class FakeTtyClass {
 public:
  FakeTtyClass() {
    char pattern[] = "/tmp/zpi-ttyclass-XXXXXX";
    if (::mkdtemp(pattern)) dir_ = pattern;
  }
  ~FakeTtyClass() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  void Add(const std::string& name, bool device, const char* type = nullptr) {
    const auto entry = std::filesystem::path(dir_) / name;
    std::filesystem::create_directory(entry);
    if (device) std::filesystem::create_directory_symlink("../../devices/somewhere", entry / "device");
    if (type) std::ofstream(entry / "type") << type << "\n";
  }
  [[nodiscard]] const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

TEST(ComPortNames, TtyClassEntriesWithADeviceAreListedWithoutEmptySerialSlots) {
  FakeTtyClass sys;
  ASSERT_FALSE(sys.Dir().empty());
  sys.Add("ttyUSB0", true);
  sys.Add("ttyS1", true, "0");     // legacy slot, no UART
  sys.Add("ttyS0", true, "4");     // a 16550A
  sys.Add("ttyacm1", true);
  sys.Add("tty1", false);          // virtual console
  sys.Add("ttyACM0", true);
  sys.Add("console", false);
  EnvVar extra("ZPITOOL_EXTRA_PORTS", ":/dev/pts/7:");
  std::vector<std::string> ports = {"old"};
  EnumComPorts(ports, sys.Dir());
  EXPECT_EQ(ports, (std::vector<std::string>{"/dev/pts/7", "ttyACM0", "ttyacm1", "ttyS0", "ttyUSB0"}));
}

TEST(ComPortNames, AnUnreadableListFailsWithCode23AndLeavesTheListAlone) {
  std::vector<std::string> ports = {"COM1", "COM2"};
  try {
    EnumComPorts(ports, "/nonexistent/zpi/tty");
    ADD_FAILURE() << "listed a missing folder";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 23);
    EXPECT_EQ(e.WinCode(), ENOENT);
    EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
  }
  EXPECT_EQ(ports, (std::vector<std::string>{"COM1", "COM2"}));
}

TEST(ComPortNames, APseudoTerminalInTheExtraListOpensByItsListedName) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  EnvVar extra("ZPITOOL_EXTRA_PORTS", pty.SlavePath().c_str());
  std::vector<std::string> ports;
  EnumComPorts(ports);
  ASSERT_NE(std::find(ports.begin(), ports.end(), pty.SlavePath()), ports.end());
  TComPort port;
  port.Port = pty.SlavePath();
  port.SetCustomBaudRate(3686400);
  EXPECT_NO_THROW(port.Open());
}

// ---- The queued hand-off on its own --------------------------------------------------------

TEST(QueuedHandOff, StopReleasesTheWaiterAndTheJobStillRunsLater) {
  std::atomic<int> wakes = 0;
  TQueuedHandOff handOff([&] { ++wakes; });
  std::atomic<bool> stop = false;
  std::atomic<bool> returned = false;
  int ran = 0;
  std::thread waiter([&] {
    handOff.RunAndWait([&] { ++ran; }, stop);
    returned = true;
  });
  ASSERT_TRUE(WaitFor([&] { return handOff.Pending() == 1; }));
  EXPECT_EQ(wakes, 1);
  EXPECT_FALSE(returned);
  stop = true;
  handOff.Interrupt();
  waiter.join();
  EXPECT_EQ(ran, 0);
  handOff.RunQueued();
  EXPECT_EQ(ran, 1);

  // Once stopped, nothing more is queued.
  handOff.RunAndWait([&] { ++ran; }, stop);
  EXPECT_EQ(handOff.Pending(), 0u);
}

TEST(QueuedHandOff, JobsQueuedWhileRunningWaitForTheNextRun) {
  TQueuedHandOff handOff([] {});
  std::atomic<bool> stop = false;
  std::vector<int> order;
  std::thread producer([&] {
    handOff.RunAndWait([&] { order.push_back(1); }, stop);
    handOff.RunAndWait([&] { order.push_back(2); }, stop);
  });
  ASSERT_TRUE(WaitFor([&] { return handOff.Pending() == 1; }));
  handOff.RunQueued();
  EXPECT_EQ(order, std::vector<int>{1});
  ASSERT_TRUE(WaitFor([&] { return handOff.Pending() == 1; }));
  handOff.RunQueued();
  producer.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

// ---- The locked hand-off on its own --------------------------------------------------------

TEST(LockedHandOff, JobsRunOnTheEventThreadOnlyWhileTheOwnerLetsGo) {
  std::timed_mutex owner;
  std::vector<std::string> order;
  TLockedHandOff handOff(owner, [&] {
    // Still under the lock: the owner cannot have taken it back.
    EXPECT_FALSE(owner.try_lock());
    order.push_back("ran");
  });
  std::atomic<bool> stop = false;
  owner.lock();  // the owner is busy
  std::atomic<bool> returned = false;
  std::thread event([&] {
    handOff.RunAndWait([&] { order.push_back("job"); }, stop);
    returned = true;
  });
  std::this_thread::sleep_for(20ms);  // the job must not run meanwhile
  EXPECT_FALSE(returned);
  EXPECT_TRUE(order.empty());
  owner.unlock();  // the owner waits
  event.join();
  EXPECT_EQ(order, (std::vector<std::string>{"job", "ran"}));
  EXPECT_TRUE(owner.try_lock());
  owner.unlock();
}

TEST(LockedHandOff, AStoppedPortDropsTheJobAndAFailureGoesToItsSink) {
  std::timed_mutex owner;
  TLockedHandOff handOff(owner, {});
  std::atomic<bool> stop = false;
  owner.lock();  // the owner closes the port while holding the lock
  bool ran = false;
  std::thread event([&] { handOff.RunAndWait([&] { ran = true; }, stop); });
  stop = true;
  event.join();  // returns although the lock never came free
  owner.unlock();
  EXPECT_FALSE(ran);

  stop = false;
  std::exception_ptr failure;
  handOff.RunAndWait([] { throw std::runtime_error("handler failed"); }, stop,
                     [&](std::exception_ptr e) { failure = e; });
  ASSERT_TRUE(failure);
  EXPECT_TRUE(owner.try_lock());  // released after the failure
  owner.unlock();
}

}  // namespace
