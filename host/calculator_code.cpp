#include "calculator_code.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

// "(A:x)" or "((A:x))" with blanks anywhere between the parentheses: the
// variable name inside, or nothing.
std::optional<VariableName> ReadReference(std::string_view code) {
    code = Trim(code);
    int depth = 0;
    while (depth < 2 && code.size() >= 2 && code.front() == '(' && code.back() == ')') {
        code = Trim(code.substr(1, code.size() - 2));
        ++depth;
    }
    if (depth == 0) return std::nullopt;
    return ParseVariableName(code);
}

struct Write {
    VariableName name;
    double value;
};

// "N (>L:x)": the number, blanks, then the target in parentheses.
std::optional<Write> ParseWrite(std::string_view code) {
    code = Trim(code);
    double value = 0.0;
    const auto [end, error] = std::from_chars(code.data(), code.data() + code.size(), value);
    if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
    std::string_view target = Trim(code.substr(static_cast<size_t>(end - code.data())));
    if (target.size() < 3 || target.substr(0, 2) != "(>" || target.back() != ')') return std::nullopt;
    auto name = ParseVariableName(target.substr(2, target.size() - 3));
    if (!name || name->varClass != 'L') return std::nullopt;
    return Write{*name, value};
}

int32_t ToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);  // truncates towards zero
}

}  // namespace

std::optional<double> EvaluateRead(const VariableStore& variables, std::string_view code) {
    const auto name = ReadReference(code);
    if (!name) return std::nullopt;
    if (const auto found = variables.Find(*name)) return found->value;
    if (name->varClass == 'L') return 0.0;
    return std::nullopt;
}

std::optional<CodeAccess> DescribeCalculatorCode(std::string_view code) {
    if (auto name = ReadReference(code)) return CodeAccess{std::move(*name), false, 0.0};
    if (auto write = ParseWrite(code)) return CodeAccess{std::move(write->name), true, write->value};
    return std::nullopt;
}

int32_t ExecuteCalculatorCode(VariableStore& variables, const char* code, double* doubleResult,
                              int32_t* intResult, const char**) {
    if (code == nullptr) return 0;
    if (const auto value = EvaluateRead(variables, code)) {
        if (doubleResult != nullptr) *doubleResult = *value;
        if (intResult != nullptr) *intResult = ToInt32(*value);
        return 1;
    }
    if (const auto write = ParseWrite(code)) {
        variables.Set(write->name, write->value);
        return 1;
    }
    return 0;
}

std::string EvaluateTooltip(const VariableStore& variables, std::string_view tooltip) {
    std::string shown;
    for (;;) {
        const size_t open = tooltip.find('%');
        const size_t close = open == std::string_view::npos ? open : tooltip.find('%', open + 1);
        if (close == std::string_view::npos) break;
        shown += tooltip.substr(0, open);
        const double value = EvaluateRead(variables, tooltip.substr(open + 1, close - open - 1)).value_or(0.0);
        tooltip = tooltip.substr(close + 1);
        char number[320];  // room for the largest double in whole digits
        if (tooltip.substr(0, 3) == "!d!") {
            // + 0.0 turns a rounded -0 into 0.
            std::snprintf(number, sizeof number, "%.0f", std::isfinite(value) ? std::round(value) + 0.0 : 0.0);
            tooltip = tooltip.substr(3);
        } else {
            std::snprintf(number, sizeof number, "%g", value);
        }
        shown += number;
    }
    shown += tooltip;
    return shown;
}
