#include "ctl/report.h"

// Std
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace {

// The units by id, each with every record of it in time order; records without an id apart.
struct Units {
  std::map<std::string, std::vector<const JournalRecord*>> byId;
  std::vector<const JournalRecord*> anonymous;
};

Units UnitsOf(const std::vector<JournalRecord>& records) {
  Units units;
  for (const JournalRecord& r : records) {
    if (r.id.empty())
      units.anonymous.push_back(&r);
    else
      units.byId[r.id].push_back(&r);
  }
  return units;
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string Right(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string ResultText(const JournalRecord& r) { return r.ok ? "OK" : "FAILED " + std::to_string(r.code); }

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

// One CSV field: quoted when it holds a separator, a quote or a line break.
// A cell as a spreadsheet reads it back as text: quoted when it holds a separator, a quote or
// a line break, and a text a spreadsheet would take for a formula (a port or a file named
// "=...") behind an apostrophe.
std::string Field(std::string text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
    text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::optional<std::string> SinceBound(std::string_view text) {
  // Digits where the pattern has 9, the pattern's own character elsewhere.
  constexpr std::string_view Full = "9999-99-99T99:99:99.999";
  std::string_view body = text;
  if (body.ends_with('Z')) body.remove_suffix(1);
  const bool lengthTaken = body.size() == 10 || body.size() == 16 || body.size() == 19 || body.size() == 23;
  if (!lengthTaken) return std::nullopt;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(body[i])) != 0;
    if (Full[i] == '9' ? !digit : body[i] != Full[i]) return std::nullopt;
  }
  const int month = std::stoi(std::string(body.substr(5, 2)));
  const int day = std::stoi(std::string(body.substr(8, 2)));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return std::string(body);
}

std::vector<JournalRecord> RecordsSince(std::vector<JournalRecord> records, const std::string& since) {
  std::erase_if(records, [&](const JournalRecord& r) { return r.time < since; });
  std::stable_sort(records.begin(), records.end(),
                   [](const JournalRecord& a, const JournalRecord& b) { return a.time < b.time; });
  return records;
}

std::string ReportText(const std::vector<JournalRecord>& records) {
  std::string out;
  const auto line = [&](const std::string& text) { out += text + "\n"; };
  if (records.empty()) {
    line("No records.");
    return out;
  }
  const Units units = UnitsOf(records);
  line(Counted(records.size(), "record", "records") + " of " + Counted(units.byId.size(), "unit", "units") +
       ", from " + records.front().time + " to " + records.back().time + " (UTC)");
  if (!units.anonymous.empty())
    line(Counted(units.anonymous.size(), "of them names", "of them name") + " no unit (it never announced itself)");

  line("");
  line("By result:");
  std::map<int, std::size_t> byCode;
  for (const JournalRecord& r : records) ++byCode[r.ok ? 0 : r.code];
  for (const auto& [code, count] : byCode)
    line("  " + Right(std::to_string(count), 5) + "  " +
         (code == 0 ? std::string("succeeded") : "code " + std::to_string(code) + ": " + std::string(JobErrorName(code))));

  line("");
  line("By day (UTC):   units  succeeded  failed");
  std::map<std::string, std::pair<std::size_t, std::size_t>> byDay;  // succeeded, failed
  for (const JournalRecord& r : records) {
    auto& [good, bad] = byDay[r.time.substr(0, 10)];
    ++(r.ok ? good : bad);
  }
  for (const auto& [day, counts] : byDay)
    line("  " + day + "  " + Right(std::to_string(counts.first + counts.second), 7) + "  " +
         Right(std::to_string(counts.first), 9) + "  " + Right(std::to_string(counts.second), 6));

  line("");
  std::vector<std::string> repeated;
  for (const auto& [id, served] : units.byId) {
    if (served.size() < 2) continue;
    std::vector<std::string> times;
    for (const JournalRecord* r : served) times.push_back(r->time.substr(0, 19) + " " + ResultText(*r));
    repeated.push_back("  " + id + "  " + std::to_string(served.size()) + " times: " + Joined(times, ", "));
  }
  line(repeated.empty() ? "No unit was served more than once." : "Served more than once:");
  for (const std::string& text : repeated) line(text);

  line("");
  line("Each unit's last record:");
  std::size_t portWidth = 4;
  for (const auto& [id, served] : units.byId) portWidth = std::max(portWidth, served.back()->port.size());
  line("  " + Padded("id", 26) + "  " + Padded("time", 24) + "  " + Padded("result", 9) + "  " +
       Padded("port", portWidth) + "  " + Padded("version", 9) + "  written, verified");
  for (const auto& [id, served] : units.byId) {
    const JournalRecord& r = *served.back();
    std::string written = r.written.empty() ? "-" : r.written + (r.verified ? ", verified" : ", not verified");
    std::string text = "  " + Padded(id, 26) + "  " + Padded(r.time, 24) + "  " + Padded(ResultText(r), 9) + "  " +
                       Padded(r.port, portWidth) + "  " + Padded(r.versionAfter, 9) + "  " + written;
    if (!r.ok) text += "\n      " + r.message;
    for (const std::string& note : r.notes) text += "\n      note: " + note;
    line(text);
  }
  return out;
}

std::string ReportCsv(const std::vector<JournalRecord>& records) {
  std::string out =
      "id,times_served,time,port,ok,code,message,kind,version_before,version_after,written,sha256,verified,notes,"
      "repeat,command,host,tool,total_ms\r\n";
  const auto row = [&](const JournalRecord& r, std::size_t times) {
    long long total = 0;
    for (const auto& [step, ms] : r.durations)
      if (step == "total") total = ms;
    const std::vector<std::string> fields = {
        r.id, std::to_string(times), r.time, r.port, r.ok ? "yes" : "no", std::to_string(r.code), r.message,
        r.kind < 0 ? "" : std::to_string(r.kind), r.versionBefore, r.versionAfter, r.written, r.sha256,
        r.verified ? "yes" : "no", Joined(r.notes, "; "), r.repeat ? "yes" : "no", r.command, r.host, r.tool,
        std::to_string(total)};
    for (std::size_t i = 0; i < fields.size(); ++i) out += (i > 0 ? "," : "") + Field(fields[i]);
    out += "\r\n";
  };
  const Units units = UnitsOf(records);
  for (const auto& [id, served] : units.byId) row(*served.back(), served.size());
  for (const JournalRecord* r : units.anonymous) row(*r, 1);
  return out;
}
