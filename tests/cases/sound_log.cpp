#include "sound_log.h"

#include <regex>

#include "log.h"

namespace {

// One pattern per catalogue message: its lines with every inserted text as
// a group that stays on its line, then the empty line.
struct Pattern {
    int number;
    std::regex regex;
};

std::string Escape(char c) {
    static const std::string special = R"(\^$.|?*+()[]{}/)";
    return special.find(c) != std::string::npos ? std::string("\\") + c : std::string(1, c);
}

const std::vector<Pattern>& Patterns() {
    static const std::vector<Pattern> patterns = [] {
        std::vector<Pattern> result;
        for (int number = 0; number < 100; ++number) {
            const char* lines = LogCatalogueLines(number);
            if (lines == nullptr) continue;
            std::string re;
            for (const char* p = lines; *p != '\0'; ++p) {
                if (p[0] == '{' && (p[1] == '1' || p[1] == '2') && p[2] == '}') {
                    re += "([^\\n]*)";
                    p += 2;
                } else {
                    re += Escape(*p);
                }
            }
            re += "\\n\\n";
            result.push_back({number, std::regex(re)});
        }
        return result;
    }();
    return patterns;
}

std::string WithoutCr(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        plain += text[i];
    }
    return plain;
}

}  // namespace

void PrintTo(const LogEntry& entry, std::ostream* out) {
    *out << entry.number;
    for (const std::string& text : entry.texts) *out << " \"" << text << "\"";
}

std::vector<int> Numbers(const std::vector<LogEntry>& entries) {
    std::vector<int> numbers;
    for (const LogEntry& e : entries) numbers.push_back(e.number);
    return numbers;
}

std::vector<LogEntry> ParseLog(const std::string& fileBytes, std::string* unmatched) {
    const std::string plain = WithoutCr(fileBytes);
    if (unmatched != nullptr) unmatched->clear();
    std::vector<LogEntry> entries;
    auto position = plain.cbegin();
    while (position != plain.cend()) {
        // The longest message that matches here ("FAILED" and "succeeded"
        // messages share their first lines).
        std::smatch best;
        int bestNumber = -1;
        for (const Pattern& pattern : Patterns()) {
            std::smatch match;
            if (std::regex_search(position, plain.cend(), match, pattern.regex, std::regex_constants::match_continuous) &&
                (bestNumber < 0 || match.length(0) > best.length(0))) {
                best = match;
                bestNumber = pattern.number;
            }
        }
        if (bestNumber < 0) {
            if (unmatched != nullptr) *unmatched = std::string(position, plain.cend());
            break;
        }
        LogEntry entry(bestNumber);
        for (size_t g = 1; g < best.size(); ++g) entry.texts.push_back(best[g].str());
        entries.push_back(entry);
        position += best.length(0);
    }
    return entries;
}

std::vector<std::string> LogLines(const std::string& fileBytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < fileBytes.size()) {
        size_t end = fileBytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(fileBytes.substr(start));
            break;
        }
        lines.push_back(fileBytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}
