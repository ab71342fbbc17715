#include "variables.h"

#include <cctype>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

std::optional<VariableName> ParseVariableName(std::string_view text) {
    if (text.find_first_of("()") != std::string_view::npos) return std::nullopt;

    std::string_view unit;
    if (const size_t comma = text.find(','); comma != std::string_view::npos) {
        unit = Trim(text.substr(comma + 1));
        text = text.substr(0, comma);
    }

    // Class letter, colon, then the name and its index separated by colons;
    // every part is trimmed so that blanks around ':' do not count.
    text = Trim(text);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::string_view varClass = Trim(text.substr(0, colon));
    if (varClass.size() != 1 || (Upper(varClass[0]) != 'A' && Upper(varClass[0]) != 'L')) return std::nullopt;

    VariableName name{Upper(varClass[0]), std::string(1, Upper(varClass[0])), std::string(unit)};
    std::string_view rest = text.substr(colon + 1);
    for (;;) {
        const size_t next = rest.find(':');
        const std::string_view part = Trim(rest.substr(0, next));
        if (part.empty()) return std::nullopt;
        name.key += ':';
        for (char c : part) name.key += Upper(c);
        if (next == std::string_view::npos) break;
        rest = rest.substr(next + 1);
    }
    return name;
}

bool VariableStore::Set(std::string_view name, double value) {
    const auto parsed = ParseVariableName(name);
    if (!parsed) return false;
    Set(*parsed, value);
    return true;
}

void VariableStore::Set(const VariableName& name, double value) { values_[name.key] = {value, name.unit}; }

std::optional<VariableValue> VariableStore::Find(std::string_view name) const {
    const auto parsed = ParseVariableName(name);
    if (!parsed) return std::nullopt;
    return Find(*parsed);
}

std::optional<VariableValue> VariableStore::Find(const VariableName& name) const {
    const auto found = values_.find(name.key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

double VariableStore::Value(std::string_view name, double fallback) const {
    const auto found = Find(name);
    return found ? found->value : fallback;
}

bool VariableStore::Remove(std::string_view name) {
    const auto parsed = ParseVariableName(name);
    return parsed && values_.erase(parsed->key) > 0;
}
