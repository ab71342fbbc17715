// The sound module's diagnostic log: numbered messages from one catalogue,
// appended to logfile.txt in the sound folder.
//
// Logging is decided once per module load, when SetUpFiles (config.h) finds
// logfile.txt already there or not; the module never creates the file. Every
// message opens the file for appending, writes its lines and an empty line,
// and closes it again, so the file may be read or emptied while the
// simulator runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Log state, set only by SetUpFiles.
extern bool logEnabled;
extern std::string logPath;
extern FILE* logFile;  // the set-up's test opening; closed before the first message

// Writes message `number` with its inserted texts. A number the catalogue
// has no lines for writes only the empty line. Texts are written as they
// are, whatever their length or characters. A message that cannot be
// appended (the file locked, its folder gone) is dropped.
void WriteLogMessage(int32_t number, const std::string& firstText, const std::string& secondText);

// The lines of catalogue message `number` ("{1}" and "{2}" standing for the
// inserted texts, "\n" between lines), or 0 for a number it does not have.
const char* LogCatalogueLines(int32_t number);
// Message `number` as it goes into the file, before text mode turns each
// "\n" into CR LF: its lines with the texts inserted, then an empty line.
std::string ComposeLogMessage(int32_t number, const std::string& firstText, const std::string& secondText);

void LogMessage(int32_t number);
void LogNumber(int32_t number, int32_t value);
void LogTwoNumbers(int32_t number, int32_t firstValue, int32_t secondValue);
void LogText(int32_t number, const std::string& text);
// Second text: "Play command is... Stop" / "PlayOnce" / "PlayLooped" for the
// command codes 0, 1, 2; empty for any other code.
void LogPlayCommand(int32_t number, const std::string& text, int commandCode);
