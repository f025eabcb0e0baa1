#include "ctl/journal.h"

// lib
#include "protocol/service_rules.h"
#include "update/tool_version.h"

// Third party
#include <nlohmann/json.hpp>

// Std
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <bcrypt.h>
#else
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#endif

namespace {

using Json = nlohmann::ordered_json;

std::string ToolVersionText() {
  return std::to_string(ToolMajor) + "." + std::to_string(ToolMinor) + "." + std::string(1, ToolRevision);
}

std::filesystem::path PathOf(const std::string& utf8) { return {std::u8string(utf8.begin(), utf8.end())}; }

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// The field's value when it is there with the right type; a field of another type refuses the
// whole line.
template <class T>
bool Take(const Json& j, const char* key, T& into, bool required, std::string& why) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) {
    if (required) why = std::string("no \"") + key + "\"";
    return !required;
  }
  bool fits = false;
  if constexpr (std::is_same_v<T, std::string>) fits = it->is_string();
  else if constexpr (std::is_same_v<T, bool>) fits = it->is_boolean();
  else if constexpr (std::is_same_v<T, int>) fits = it->is_number_integer();
  else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    fits = it->is_array() && std::all_of(it->begin(), it->end(), [](const Json& e) { return e.is_string(); });
  }
  if (!fits) {
    why = std::string("\"") + key + "\" is not what a record holds there";
    return false;
  }
  if constexpr (std::is_same_v<T, int>) {
    const auto value = it->get<long long>();
    if (value < -1000000 || value > 1000000) {
      why = std::string("\"") + key + "\" is out of range";
      return false;
    }
    into = static_cast<int>(value);
  } else {
    into = it->get<T>();
  }
  return true;
}

#if defined(_WIN32)
std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string SystemMessage(DWORD code) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                 nullptr);
  std::string out = text;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
  return out + " (error " + std::to_string(code) + ")";
}
#endif

}  // namespace

std::string UtcText(std::chrono::system_clock::time_point at) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>((ms % 1000 + 1000) % 1000));
  return text;
}

std::string Sha256Hex(std::span<const std::uint8_t> data) {
  unsigned char digest[32] = {};
#if defined(_WIN32)
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return {};
  const NTSTATUS status = BCryptHash(algorithm, nullptr, 0, const_cast<PUCHAR>(data.data()),
                                     static_cast<ULONG>(data.size()), digest, sizeof digest);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (status != 0) return {};
#else
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1 || length != sizeof digest)
    return {};
#endif
  std::string hex;
  char two[3];
  for (const unsigned char octet : digest) {
    std::snprintf(two, sizeof two, "%02x", octet);
    hex += two;
  }
  return hex;
}

std::string HostName() {
  char name[256] = {};
#if defined(_WIN32)
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return {};
#else
  if (gethostname(name, sizeof name - 1) != 0) return {};
#endif
  return name;
}

JournalRecord RecordOf(const JobResult& r, std::string_view command, std::chrono::system_clock::time_point at) {
  JournalRecord record;
  record.time = UtcText(at);
  record.tool = ToolVersionText();
  record.host = HostName();
  record.command = std::string(command);
  record.port = r.port;
  if (r.unit) {
    record.id = UnitIdText(*r.unit);
    record.kind = r.unit->Version[0];
    record.versionAfter = UnitVersionText(*r.unit);
    record.versionBefore = UnitVersionText(r.first ? *r.first : *r.unit);
  }
  record.written = r.written;
  if (r.writtenImage) record.sha256 = Sha256Hex(*r.writtenImage);
  record.verified = r.verified;
  record.ok = r.ok;
  record.code = r.code;
  record.message = r.error;
  record.unfinished = r.unfinished;
  record.done = r.done;
  record.notes = r.notes;
  record.repeat = r.repeat;
  for (const JobStep& step : r.steps) record.durations.emplace_back(step.name, step.took.count());
  record.durations.emplace_back("total", r.took.count());
  return record;
}

std::string JournalLine(const JournalRecord& r) {
  Json durations = Json::object();
  for (const auto& [step, ms] : r.durations) durations[step] = ms;
  const Json line{{"time", r.time},
                  {"tool", r.tool},
                  {"host", r.host},
                  {"command", r.command},
                  {"port", r.port},
                  {"id", TextOrNull(r.id)},
                  {"kind", r.kind < 0 ? Json(nullptr) : Json(r.kind)},
                  {"version_before", TextOrNull(r.versionBefore)},
                  {"version_after", TextOrNull(r.versionAfter)},
                  {"written", TextOrNull(r.written)},
                  {"sha256", TextOrNull(r.sha256)},
                  {"verified", r.verified},
                  {"ok", r.ok},
                  {"code", r.code},
                  {"message", r.message},
                  {"unfinished", r.unfinished},
                  {"done", r.done},
                  {"notes", r.notes},
                  {"repeat", r.repeat},
                  {"durations_ms", durations}};
  // Invalid UTF-8 (a port's name, a system message) is replaced, never refused: the record goes in.
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<JournalRecord> ParseJournalLine(std::string_view text, std::string* why) {
  std::string reason;
  const auto refuse = [&](std::string what) -> std::optional<JournalRecord> {
    if (why) *why = std::move(what);
    return std::nullopt;
  };
  const Json j = Json::parse(text.begin(), text.end(), nullptr, false);
  if (j.is_discarded()) return refuse("not JSON");
  if (!j.is_object()) return refuse("not a JSON object");
  JournalRecord r;
  const bool taken = Take(j, "time", r.time, true, reason) && Take(j, "port", r.port, true, reason) &&
                     Take(j, "ok", r.ok, true, reason) && Take(j, "code", r.code, true, reason) &&
                     Take(j, "tool", r.tool, false, reason) && Take(j, "host", r.host, false, reason) &&
                     Take(j, "command", r.command, false, reason) && Take(j, "id", r.id, false, reason) &&
                     Take(j, "kind", r.kind, false, reason) &&
                     Take(j, "version_before", r.versionBefore, false, reason) &&
                     Take(j, "version_after", r.versionAfter, false, reason) &&
                     Take(j, "written", r.written, false, reason) && Take(j, "sha256", r.sha256, false, reason) &&
                     Take(j, "verified", r.verified, false, reason) && Take(j, "message", r.message, false, reason) &&
                     Take(j, "unfinished", r.unfinished, false, reason) && Take(j, "done", r.done, false, reason) &&
                     Take(j, "notes", r.notes, false, reason) && Take(j, "repeat", r.repeat, false, reason);
  if (!taken) return refuse("not a record: " + reason);
  // Times are compared as text: only the form the journal writes is taken.
  if (r.time.size() != 24 || r.time[4] != '-' || r.time[10] != 'T' || r.time.back() != 'Z')
    return refuse("not a record: \"time\" is not a UTC time such as 2024-01-31T14:05:09.123Z");
  if (const auto it = j.find("durations_ms"); it != j.end() && it->is_object())
    for (const auto& [step, ms] : it->items())
      if (ms.is_number_integer()) r.durations.emplace_back(step, ms.get<long long>());
  return r;
}

// ---- Appending --------------------------------------------------------------------------------

Journal::Journal(std::string path) : path_(std::move(path)) {
#if defined(_WIN32)
  // Append access alone: every write lands at the end, whoever else writes the file.
  HANDLE handle = CreateFileW(Wide(path_).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    throw std::runtime_error("the journal " + path_ + " cannot be opened for appending: " +
                             SystemMessage(GetLastError()));
  handle_ = handle;
#else
  fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0)
    throw std::runtime_error("the journal " + path_ + " cannot be opened for appending: " + std::strerror(errno));
#endif
  // A line cut short by a crash stays alone: the next record starts a line of its own.
  std::ifstream in(PathOf(path_), std::ios::binary | std::ios::ate);
  if (in && in.tellg() > 0) {
    in.seekg(-1, std::ios::end);
    char last = '\n';
    std::string error;
    if (in.get(last) && last != '\n' && !Append("", error))
      throw std::runtime_error("the journal " + path_ + " cannot be written: " + error);
  }
}

Journal::~Journal() {
#if defined(_WIN32)
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
#else
  if (fd_ >= 0) ::close(fd_);
#endif
}

bool Journal::Append(const std::string& line, std::string& error) {
  const std::lock_guard lock(mutex_);
  if (!failed_.empty()) {
    error = "an earlier record could not be written (" + failed_ + ")";
    return false;
  }
  const std::string whole = line + "\n";
#if defined(_WIN32)
  DWORD wrote = 0;
  const HANDLE handle = static_cast<HANDLE>(handle_);
  if (!WriteFile(handle, whole.data(), static_cast<DWORD>(whole.size()), &wrote, nullptr))
    failed_ = SystemMessage(GetLastError());
  else if (wrote != whole.size())
    failed_ = "only " + std::to_string(wrote) + " of " + std::to_string(whole.size()) + " bytes went in";
  else if (!FlushFileBuffers(handle))
    failed_ = "flushing it to disk failed: " + SystemMessage(GetLastError());
#else
  ssize_t wrote;
  do {
    wrote = ::write(fd_, whole.data(), whole.size());
  } while (wrote < 0 && errno == EINTR);
  if (wrote < 0)
    failed_ = std::strerror(errno);
  else if (static_cast<std::size_t>(wrote) != whole.size())
    failed_ = "only " + std::to_string(wrote) + " of " + std::to_string(whole.size()) + " bytes went in";
  else if (::fsync(fd_) != 0 && errno != EINVAL)  // EINVAL: a device that keeps nothing to flush
    failed_ = std::string("flushing it to disk failed: ") + std::strerror(errno);
#endif
  if (failed_.empty()) return true;
  error = failed_;
  return false;
}

// ---- Reading back -----------------------------------------------------------------------------

void ReadJournal(const std::string& path, JournalContents& into) {
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) {
    into.problems.push_back({path, 0, std::string("cannot be read: ") + std::strerror(errno)});
    return;
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) into.problems.push_back({path, 0, "a read failed part way; what came before it is used"});
  std::size_t number = 0;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = text.find('\n', from);
    const bool cut = end == std::string::npos;  // the last line, without its newline
    std::string_view line(text.data() + from, (cut ? text.size() : end) - from);
    from = cut ? text.size() : end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
    std::string why;
    if (auto record = ParseJournalLine(line, &why)) {
      into.records.push_back(std::move(*record));
    } else if (cut) {
      into.problems.push_back({path, number, "a cut last line (its writer stopped part way through it); skipped"});
    } else {
      into.problems.push_back({path, number, why + "; skipped"});
    }
  }
}
