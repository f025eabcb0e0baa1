// The configuration file's reader on any text, through its checks and the image encoding:
//  - a file is accepted exactly when there is no refusal;
//  - an accepted file encodes to an image that decodes valid and equal, and its record's own
//    file reads back as the same record and the same text;
//  - every refusal is one line that names a key or a line of the file.
#include "config/config_fields.h"
#include "config/config_file.h"

// Std
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void Broken(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "%s%s%.*s\n", what, detail.empty() ? "" : ": ", static_cast<int>(detail.size()), detail.data());
  std::abort();
}

bool NamesAKey(std::string_view error) {
  // A key of the file's own (unknown, or given twice), or the format by name.
  if (error.starts_with("unknown key \"") || error.starts_with("key \"") || error.starts_with("unsupported format "))
    return true;
  const auto quoted = [&](std::string_view name) { return error.find("\"" + std::string(name) + "\"") != error.npos; };
  if (quoted("format")) return true;
  for (const NumericField& f : NumericFields)
    if (quoted(f.Name)) return true;
  for (const ChoiceField& box : ChoiceFields)
    if (quoted(box.Name)) return true;
  return false;
}

bool NamesALine(std::string_view error) {
  for (std::size_t at = error.find("line "); at != error.npos; at = error.find("line ", at + 1))
    if (at + 5 < error.size() && error[at + 5] >= '1' && error[at + 5] <= '9') return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ConfigFileResult file = ParseConfigFile({reinterpret_cast<const char*>(data), size});
  if (file.record.has_value() == !file.errors.empty()) Broken("a record together with refusals, or neither");
  for (const std::string& error : file.errors) {
    if (error.empty() || error.find_first_of("\r\n") != error.npos) Broken("a refusal not on one line", error);
    if (!NamesAKey(error) && !NamesALine(error)) Broken("a refusal that names no key and no line", error);
  }
  if (!file.record) return 0;

  const ConfigRecord& record = *file.record;
  const DecodedConfig decoded = DecodeConfigImage(EncodeConfigImage(record).image, false);
  if (decoded.errors != 0 || decoded.record != record) Broken("an accepted file whose image does not decode the same");
  const std::string text = ConfigFileText(record);
  const ConfigFileResult again = ParseConfigFile(text);
  if (!again.record || *again.record != record) Broken("an accepted file's record does not read back", text);
  if (ConfigFileText(*again.record) != text) Broken("an accepted file's record does not write back the same", text);
  return 0;
}
