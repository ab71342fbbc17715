// The sound module's log read back as catalogue messages, in both builds'
// tests: logfile.txt split into its numbered messages with their inserted
// texts, so that tests compare message numbers and texts, not lines.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// One message of the module's log: its catalogue number and inserted texts.
struct LogEntry {
    int number;
    std::vector<std::string> texts;
    LogEntry(int n) : number(n) {}  // NOLINT: a bare number reads well in tables
    LogEntry(int n, std::string text) : number(n), texts{std::move(text)} {}
    LogEntry(int n, std::string first, std::string second) : number(n), texts{std::move(first), std::move(second)} {}
    bool operator==(const LogEntry& other) const = default;
};
void PrintTo(const LogEntry& entry, std::ostream* out);

// The numbers alone, for sequences where the texts do not matter.
std::vector<int> Numbers(const std::vector<LogEntry>& entries);

// The messages of a log file's bytes (CR LF line ends, as text mode writes
// them). Text that no message matches ends the list and is reported in
// `unmatched` (empty when all of it was read).
std::vector<LogEntry> ParseLog(const std::string& fileBytes, std::string* unmatched);

// The log file's lines, without their CR LF ends.
std::vector<std::string> LogLines(const std::string& fileBytes);
