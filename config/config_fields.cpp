#include "config/config_fields.h"

// Std
#include <algorithm>

const NumericField* FindNumericField(std::string_view name) {
  const auto it = std::find_if(NumericFields.begin(), NumericFields.end(),
                               [name](const NumericField& f) { return f.Name == name; });
  return it == NumericFields.end() ? nullptr : &*it;
}

const ChoiceField* FindChoiceField(std::string_view name) {
  const auto it = std::find_if(ChoiceFields.begin(), ChoiceFields.end(),
                               [name](const ChoiceField& f) { return f.Name == name; });
  return it == ChoiceFields.end() ? nullptr : &*it;
}

int CodeIndex(const NumericField& list, std::uint32_t code) {
  const auto it = std::find(list.Codes.begin(), list.Codes.end(), code);
  return it == list.Codes.end() ? -1 : static_cast<int>(it - list.Codes.begin());
}

bool WriteAccepts(const NumericField& f, std::uint32_t value) {
  if (f.IsList()) return CodeIndex(f, value) >= 0;
  return value >= f.WriteMin && value <= WriteLimit(f);
}

std::string WriteRefusal(const NumericField& f) {
  std::string message = "Parâmetro inválido!\r\n[";
  message += f.Message;
  message += ']';
  return message;
}
