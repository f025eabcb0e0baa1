#include "ctl/port_watch.h"

// lib
#include "serial/comport.h"

// Std
#include <algorithm>
#include <cctype>
#include <set>

#if !defined(_WIN32)
#include <glob.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#endif

namespace {

char Folded(char c, bool fold) {
  return fold ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
}

// A set at the start of `pattern` ("[...]"): whether `c` is in it, and how long the set is
// (0: not a set, "[" is then an ordinary character).
std::size_t SetAt(std::string_view pattern, char c, bool fold, bool& in) {
  std::size_t i = 1;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) ++i;
  bool found = false;
  for (bool first = true; i < pattern.size(); first = false) {
    if (pattern[i] == ']' && !first) {
      in = found != negated;
      return i + 1;
    }
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      found |= Folded(pattern[i], fold) <= Folded(c, fold) && Folded(c, fold) <= Folded(pattern[i + 2], fold);
      i += 3;
    } else {
      found |= Folded(pattern[i], fold) == Folded(c, fold);
      ++i;
    }
  }
  return 0;  // no closing bracket
}

#if !defined(_WIN32)
// Where `path` leads (links followed), when that is a character device.
bool DeviceOf(const std::string& path, std::string& device) {
  char resolved[PATH_MAX];
  if (!::realpath(path.c_str(), resolved)) return false;
  struct stat st {};
  if (::stat(resolved, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  device = resolved;
  return true;
}
#endif

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name, bool foldCase) {
  // Iterative, with one backtrack point for the last `*`: linear in practice, never recursive.
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      bool in = false;
      const std::size_t set = pattern[p] == '[' ? SetAt(pattern.substr(p), name[n], foldCase, in) : 0;
      if (set > 0 ? in : (pattern[p] == '?' || Folded(pattern[p], foldCase) == Folded(name[n], foldCase))) {
        p += set > 0 ? set : 1;
        ++n;
        continue;
      }
    }
    if (starP == std::string_view::npos) return false;
    p = starP + 1;
    n = ++starN;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

PortWatch::PortWatch(std::vector<std::string> patterns) : patterns_(std::move(patterns)) {}

std::string PortWatch::Describe() const {
  if (patterns_.empty()) return "the port list";
  std::string out;
  for (const std::string& pattern : patterns_) out += (out.empty() ? "" : ", ") + pattern;
  return out;
}

std::vector<WatchedPort> PortWatch::Look() const {
  std::vector<WatchedPort> found;
  std::set<std::string> devices;
  const auto add = [&](const std::string& name, const std::string& device) {
    if (devices.insert(device).second) found.push_back({name, device});
  };
#if defined(_WIN32)
  std::vector<std::string> names;
  EnumComPorts(names);
  for (const std::string& name : names) {
    std::string device = name;
    for (char& c : device) c = Folded(c, true);
    if (patterns_.empty()) {
      add(name, device);
      continue;
    }
    for (const std::string& pattern : patterns_)
      if (WildcardMatch(pattern, name, true)) add(name, device);
  }
#else
  std::string device;
  if (patterns_.empty()) {
    std::vector<std::string> names;
    EnumComPorts(names);
    for (const std::string& name : names)
      if (DeviceOf(name.starts_with('/') ? name : "/dev/" + name, device)) add(name, device);
    return found;
  }
  for (const std::string& pattern : patterns_) {
    glob_t matches{};
    if (::glob(pattern.c_str(), 0, nullptr, &matches) == 0) {
      for (std::size_t i = 0; i < matches.gl_pathc; ++i)
        if (DeviceOf(matches.gl_pathv[i], device)) add(matches.gl_pathv[i], device);
    }
    ::globfree(&matches);
  }
#endif
  return found;
}
