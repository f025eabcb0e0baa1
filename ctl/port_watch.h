#pragma once
// Which serial ports are there now, for the station: the port list (the same as the window's
// and `zpictl list`), or the device paths that match shell patterns (`/dev/serial/by-id/*`,
// a folder of links to pseudo-terminals), looked up afresh at every look with links followed;
// on Windows the patterns are matched against the COM names of the port list. Qt-free.

// Std
#include <string>
#include <string_view>
#include <vector>

struct WatchedPort {
  std::string name;    // as listed or matched: what a job opens and what the table shows
  std::string device;  // what the name leads to now (links followed): another device is another unit
};

class PortWatch {
 public:
  explicit PortWatch(std::vector<std::string> patterns);  // none: the whole port list

  // The ports there now, one per device, in the list's order (each pattern's matches sorted,
  // the patterns in their order). A name whose link leads nowhere, or to something that is
  // not a character device, is not there. Throws EComPort when the port list cannot be read.
  [[nodiscard]] std::vector<WatchedPort> Look() const;
  // "the port list" or the patterns.
  [[nodiscard]] std::string Describe() const;

 private:
  std::vector<std::string> patterns_;
};

// A shell wildcard over a whole name: `*` any run of characters, `?` one, `[...]` one of a set
// (`[!...]` none of it); letters compared without case when `foldCase`.
[[nodiscard]] bool WildcardMatch(std::string_view pattern, std::string_view name, bool foldCase);
