// One zpictl job in the test process against a simulated unit: how a failure inside the
// port's handlers is named. Only the port's own failure means the unit or its cable; anything
// else is a fault of the program and says so.
#include "ctl/unit_job.h"
#include "serial/comport.h"
#include "sim/sim_unit.h"

#include <gtest/gtest.h>

// Std
#include <functional>
#include <stdexcept>
#include <string>

namespace {

// Reports nothing, and fails on the unit's identity when told to.
class Observer final : public JobObserver {
 public:
  std::function<void()> onIdentified;
  void Identified(const std::string&, const TDeviceInfo&) override {
    if (onIdentified) onIdentified();
  }
  void Progress(const std::string&, std::string_view, int, int) override {}
  void ConfigRead(const std::string&, bool) override {}
  void Written(const std::string&, std::string_view) override {}
  void Verified(const std::string&) override {}
  void Log(const std::string&, std::string_view) override {}
  void Finished(const JobResult&) override {}
};

TEST(UnitJob, OnlyThePortsOwnFailureBlamesTheUnit) {
  struct Case {
    const char* name;
    std::function<void()> failure;
    int code;
    const char* says;
  };
  const Case cases[] = {
      {"the port failed", [] { throw EComPort(CError_ReadFailed, 5); }, JobUnplugged, "the port failed: "},
      {"a fault of the program", [] { throw std::logic_error("index past the end"); }, JobInternalFault,
       "a fault of zpictl itself, not of the unit or its cable: index past the end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimUnit unit;
    unit.Start();
    Observer observer;
    observer.onIdentified = c.failure;
    JobRequest request;
    request.command = JobCommand::Info;
    request.port = unit.DevicePath();
    UnitJob job(request, observer);
    const JobResult result = job.Run();
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.code, c.code);
    EXPECT_NE(result.error.find(c.says), std::string::npos) << result.error;
  }
}

}  // namespace
