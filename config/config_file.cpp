#include "config/config_file.h"

// lib
#include "config/config_fields.h"

// Third party
#include <nlohmann/json.hpp>

// Std
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace {

using Json = nlohmann::ordered_json;

// A key as JSON writes it: a line feed or a quote inside one stays on the message's line.
std::string Quoted(std::string_view name) {
  return Json(std::string(name)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The line of the text (from 1) that holds its byte at `position`.
std::size_t LineAt(std::string_view text, std::size_t position) {
  const auto upTo = text.begin() + static_cast<std::ptrdiff_t>(std::min(position, text.size()));
  return 1 + static_cast<std::size_t>(std::count(text.begin(), upTo, '\n'));
}

// Where a text stops being JSON. The parser's refusal of a number beyond a double carries no
// position (unlike its syntax errors); a pass that builds nothing finds it.
class FirstFault final : public nlohmann::json_sax<Json> {
 public:
  std::size_t position = 0;
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t at, const std::string&, const Json::exception&) override {
    position = at;
    return false;
  }
};

// The panel's refusal on one line, after the key it refuses.
std::string Refused(const NumericField& f, const Json& value) {
  return Quoted(f.Name) + " = " + value.dump() + ": " + OneLine(WriteRefusal(f));
}

std::string TypeName(const Json& value) {
  if (value.is_boolean()) return "true or false";
  if (value.is_number_float()) return "a number with a fraction or beyond any limit";
  // Written with a minus sign (the parser keeps "-0" signed too).
  if (value.is_number_integer() && !value.is_number_unsigned()) return "a negative number";
  if (value.is_number()) return "a number";
  if (value.is_string()) return "text";
  if (value.is_null()) return "null";
  if (value.is_array()) return "a list";
  return "an object";
}

// The value a list's key takes in the file: seconds or baud.
std::uint32_t FileValue(const NumericField& f, std::uint32_t code) { return code * f.ItemScale; }

}  // namespace

ConfigFileResult ParseConfigFile(std::string_view text) {
  ConfigFileResult out;
  std::vector<std::string>& errors = out.errors;

  // The keys of the top object, to catch one given twice (a parser keeps only the last). A list
  // or an object given as a value is refused whatever it holds, so a list or an object inside
  // it is not kept: nesting thousands deep would otherwise be copied and freed recursively.
  std::set<std::string> seen, twice;
  const Json::parser_callback_t noteKeys = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (depth == 1 && event == Json::parse_event_t::key) {
      const std::string key = parsed.get<std::string>();
      if (!seen.insert(key).second) twice.insert(key);
    }
    return depth < 2 || (event != Json::parse_event_t::object_start && event != Json::parse_event_t::array_start);
  };
  Json file;
  try {
    file = Json::parse(text.begin(), text.end(), noteKeys);
  } catch (const Json::parse_error& e) {
    errors.push_back(std::string("not a JSON file: ") + e.what());
    return out;
  } catch (const Json::out_of_range& e) {
    FirstFault fault;
    (void)Json::sax_parse(text.begin(), text.end(), &fault);
    errors.push_back(std::string("not a JSON file: ") + e.what() + ", at line " +
                     std::to_string(LineAt(text, fault.position)));
    return out;
  }
  if (!file.is_object()) {
    const std::size_t start = text.find_first_not_of(" \t\r\n", text.starts_with("\xEF\xBB\xBF") ? 3 : 0);
    errors.push_back("not a configuration: the file must hold one JSON object, and its value on line " +
                     std::to_string(LineAt(text, start)) + " is " + TypeName(file));
    return out;
  }
  for (const std::string& key : twice) errors.push_back("key " + Quoted(key) + " is given more than once");

  // The format first: another format's keys would only mislead.
  const auto format = file.find("format");
  if (format == file.end()) {
    errors.emplace_back("missing key \"format\" (this zpictl reads format 1)");
    return out;
  }
  if (!format->is_number_integer() || format->get<std::int64_t>() != ConfigFileFormat) {
    // A list or an object is named, not written out (what lies inside it was not kept).
    errors.push_back("unsupported format " + (format->is_structured() ? TypeName(*format) : format->dump()) +
                     " (this zpictl reads format 1)");
    return out;
  }

  for (const auto& [key, value] : file.items())
    if (key != "format" && !FindNumericField(key) && !FindChoiceField(key)) errors.push_back("unknown key " + Quoted(key));

  ConfigRecord record;
  for (const NumericField& f : NumericFields) {
    const auto value = file.find(std::string(f.Name));
    if (value == file.end()) {
      errors.push_back("missing key " + Quoted(f.Name));
      continue;
    }
    if (!value->is_number_unsigned()) {
      errors.push_back(Quoted(f.Name) + " must be a whole number, not " + TypeName(*value));
      continue;
    }
    const std::uint64_t n = value->get<std::uint64_t>();
    if (f.IsList()) {
      // Seconds or baud: an entry of the list, as the panel offers them.
      const std::uint64_t asCode = n / f.ItemScale;
      const int index = n % f.ItemScale == 0 && asCode <= NoUpperBound ? CodeIndex(f, static_cast<std::uint32_t>(asCode)) : -1;
      if (index < 0 || (f.OnlyCode != 0 && f.Codes[static_cast<std::size_t>(index)] != f.OnlyCode)) {
        std::string allowed;
        for (const std::uint16_t code : f.Codes)
          if (f.OnlyCode == 0 || code == f.OnlyCode)
            allowed += (allowed.empty() ? "" : ", ") + std::to_string(FileValue(f, code));
        errors.push_back(Refused(f, *value) + " (" + allowed + ")");
        continue;
      }
      f.Member.Set(record, f.Codes[static_cast<std::size_t>(index)]);
      continue;
    }
    if (n > NoUpperBound || !WriteAccepts(f, static_cast<std::uint32_t>(n))) {
      errors.push_back(Refused(f, *value));
      continue;
    }
    f.Member.Set(record, static_cast<std::uint32_t>(n));
  }
  for (const ChoiceField& box : ChoiceFields) {
    const auto value = file.find(std::string(box.Name));
    if (value == file.end()) {
      errors.push_back("missing key " + Quoted(box.Name));
      continue;
    }
    if (!value->is_boolean()) {
      errors.push_back(Quoted(box.Name) + " must be true or false, not " + TypeName(*value));
      continue;
    }
    ChoiceIn(record, box) = value->get<bool>();
  }
  // The panel's interlock: buzzer "during" excludes entry and exit.
  for (const ChoiceField& during : ChoiceFields) {
    if (during.Kind != ChoiceKind::Buzzer || during.Weight != 4 || !ChoiceIn(record, during)) continue;
    for (const ChoiceField& other : ChoiceFields)
      if (other.Group == during.Group && other.Kind == ChoiceKind::Buzzer && other.Weight != 4 &&
          ChoiceIn(record, other))
        errors.push_back(Quoted(during.Name) + " and " + Quoted(other.Name) +
                         " are both true: the buzzer during a condition excludes it at entry and exit");
  }
  if (errors.empty()) out.record = record;
  return out;
}

ConfigFileResult LoadConfigFile(const std::string& path) {
  // A directory opens and then reads as nothing at all.
  std::error_code unused;
  if (std::filesystem::is_directory(path, unused)) return {std::nullopt, {"cannot read " + path + ": it is a directory"}};
  std::ifstream in(path, std::ios::binary);
  if (!in) return {std::nullopt, {"cannot read " + path}};
  std::string text;
  char buffer[4096];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > ConfigFileMaxSize)
      return {std::nullopt, {path + " is larger than a configuration file can be (" +
                             std::to_string(ConfigFileMaxSize / 1024) + " KiB)"}};
  }
  return ParseConfigFile(text);
}

std::string OneLine(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

std::string ConfigFileText(const ConfigRecord& record) {
  Json file;
  file["format"] = ConfigFileFormat;
  for (const NumericField& f : NumericFields)
    file[std::string(f.Name)] = f.IsList() ? FileValue(f, f.Member.Get(record)) : f.Member.Get(record);
  for (const ChoiceField& box : ChoiceFields) file[std::string(box.Name)] = ChoiceIn(record, box);
  return file.dump(2) + "\n";
}
