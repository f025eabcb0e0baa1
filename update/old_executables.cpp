#include "update/old_executables.h"

// Std
#include <system_error>

void DeleteOldExecutablesIn(const std::filesystem::path& folder) {
  if (folder.empty()) return;  // never fall back on the working directory
  for (std::string_view name : OldExecutables) {
    const std::filesystem::path file = folder / std::filesystem::path(name);
    std::error_code error;
    const auto status = std::filesystem::symlink_status(file, error);
    if (error) continue;
    if (std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status))
      std::filesystem::remove(file, error);
  }
}
