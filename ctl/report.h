#pragma once
// `zpictl report`: what service journals say, for people (counts by result and by day, the
// units served more than once, each unit's last record) or for a spreadsheet (CSV, one row per
// unit). Qt-free.

// lib
#include "ctl/journal.h"

// Std
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A --since value as the journal's times can be compared with it ("2024-01-31",
// "2024-01-31T14:05", "2024-01-31T14:05:09", optionally with ".123" and "Z"; UTC); empty when
// it is none of those.
[[nodiscard]] std::optional<std::string> SinceBound(std::string_view text);

// The records at or after `since` (all when empty), oldest first.
[[nodiscard]] std::vector<JournalRecord> RecordsSince(std::vector<JournalRecord> records, const std::string& since);

[[nodiscard]] std::string ReportText(const std::vector<JournalRecord>& records);
// Every unit's last record with the times it was served; records that name no unit (it never
// announced itself) each on a row of their own.
[[nodiscard]] std::string ReportCsv(const std::vector<JournalRecord>& records);
