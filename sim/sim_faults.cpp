#include "sim/sim_faults.h"

// lib
#include "protocol/frame.h"

// Std
#include <utility>

namespace {

constexpr std::uint32_t DefaultSplitGapMs = 20;
constexpr std::uint32_t DefaultExtraGapMs = 10;
constexpr std::uint8_t DefaultWrongAddress = 0x11;
constexpr std::uint32_t DefaultAlteredByte = 19;  // VMX
constexpr std::size_t ImageSumOffset = 36;        // the 24-bit sum of the bytes before it

std::chrono::milliseconds GapOr(std::uint32_t param, std::uint32_t fallback) {
  return std::chrono::milliseconds(param ? param : fallback);
}

}  // namespace

const SimFault* SimFaultsAt::Find(SimFaultKind kind) const {
  for (const auto& f : set) {
    if (f.kind == kind) return &f;
  }
  return nullptr;
}

SimFaultsAt FaultsAt(std::span<const SimFault> faults, std::uint32_t number) {
  SimFaultsAt at;
  for (const auto& f : faults) {
    if (f.frame == number) at.set.push_back(f);
    if (f.kind == SimFaultKind::SilentFrom && f.frame <= number && !at.silentFrom) at.silentFrom = f.frame;
  }
  return at;
}

std::vector<SimWrite> FaultedAnswer(const SimFaultsAt& faults, std::uint32_t number, std::optional<SimBytes> answer,
                                    const SimBytes& announcement, SimClock::time_point due,
                                    std::vector<std::string>& log) {
  std::vector<SimWrite> writes;
  if (answer && faults.Find(SimFaultKind::DropAnswer)) {
    log.push_back(SimLogLine("fault: answer to frame %u dropped", number));
    answer.reset();
  }
  if (answer) {
    SimBytes out = std::move(*answer);
    const bool whole = out.size() >= FrameOverhead;  // the faults that rebuild or mark a frame need one
    if (const auto* f = faults.Find(SimFaultKind::WrongAddress); f && whole) {
      const std::uint8_t address = f->param ? static_cast<std::uint8_t>(f->param) : DefaultWrongAddress;
      const SimBytes body(out.begin() + 5, out.end() - 3);
      out = BuildFrame(out[2], body, address);
      log.push_back(SimLogLine("fault: answer to frame %u sent to address 0x%02X", number, address));
    }
    if (faults.Find(SimFaultKind::BadSumAnswer) && whole) {
      out.back() = static_cast<std::uint8_t>(out.back() + 1);
      log.push_back(SimLogLine("fault: answer to frame %u with a bad sum", number));
    }
    if (faults.Find(SimFaultKind::NoStartAnswer) && whole) {
      out[0] = 0x3C;
      log.push_back(SimLogLine("fault: answer to frame %u without its start byte", number));
    }
    if (faults.Find(SimFaultKind::ShortAnswer) && out.size() > 5) {
      out.resize(5);
      log.push_back(SimLogLine("fault: answer to frame %u cut to 5 bytes", number));
    }
    bool extraAnnouncement = false;
    if (faults.Find(SimFaultKind::TwoFrames)) {
      out.insert(out.end(), announcement.begin(), announcement.end());
      extraAnnouncement = true;
      log.push_back(SimLogLine("fault: answer to frame %u and an announcement in one write", number));
    }
    if (const auto* f = faults.Find(SimFaultKind::SplitAnswer)) {
      const auto half = static_cast<std::ptrdiff_t>(out.size() / 2);
      writes.push_back({due, SimBytes(out.begin(), out.begin() + half)});
      writes.push_back({due + GapOr(f->param, DefaultSplitGapMs), SimBytes(out.begin() + half, out.end()),
                        extraAnnouncement});
      log.push_back(SimLogLine("fault: answer to frame %u split in two writes", number));
    } else {
      writes.push_back({due, std::move(out), extraAnnouncement});
    }
  }
  if (const auto* f = faults.Find(SimFaultKind::Reannounce)) {
    writes.push_back({due + GapOr(f->param, DefaultExtraGapMs), announcement, true});
    log.push_back(SimLogLine("fault: announcing again after frame %u", number));
  }
  if (const auto* f = faults.Find(SimFaultKind::OperatingNotice)) {
    writes.push_back({due + GapOr(f->param, DefaultExtraGapMs), BuildFrame(CmdOperatingMode, {}, UnitToTool)});
    log.push_back(SimLogLine("fault: operating-mode notice after frame %u", number));
  }
  return writes;
}

void AlterStoredImage(ConfigImage& image, std::span<const SimFault> faults, std::uint32_t number,
                      std::vector<std::string>& log) {
  for (const SimFault& f : faults) {
    if (f.kind != SimFaultKind::AlterWrite || f.frame > number) continue;
    const std::size_t at = f.param ? f.param : DefaultAlteredByte;
    if (at >= ImageSumOffset) {
      log.push_back(SimLogLine("fault: byte %zu is past the fields; left as sent", at));
      continue;
    }
    ++image[at];
    FixImageSum(image);
    log.push_back(SimLogLine("fault: byte %zu of the configuration stored one higher", at));
  }
}

void FixImageSum(ConfigImage& image) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < ImageSumOffset; ++i) sum += image[i];
  image[ImageSumOffset] = static_cast<std::uint8_t>(sum >> 16);
  image[ImageSumOffset + 1] = static_cast<std::uint8_t>(sum >> 8);
  image[ImageSumOffset + 2] = static_cast<std::uint8_t>(sum);
}
