// The substitute simulator's calculator-code service (panel-services slot
// 69) and its tooltip texts.
//
// Understood texts, one statement each, blanks allowed around every part:
//   read   "(A:name[:index][,unit])" or "(L:name[,unit])", also wrapped in a
//          second pair of parentheses: "((A:IS SLEW ACTIVE, bool))";
//   write  "N (>L:name[,unit])" with N a decimal number, possibly negative
//          ("-1", "0.5"). Only local variables can be written.
//
// Results, chosen to match what the simulator does where it is known:
//   - a read of a local variable never written gives 0 (and counts as
//     evaluated), as the simulator's locals read 0 until set;
//   - a read of an aircraft variable the host does not know, and any text
//     that is not understood, stores nothing into the result pointers and
//     returns 0;
//   - an evaluated read stores the value into the double result, and into
//     the integer result truncated towards zero (saturated at the 32-bit
//     limits, NaN as 0); the text result is never written;
//   - a write stores nothing into the result pointers;
//   - the service returns 1 when the text was evaluated, 0 otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "variables.h"

// Evaluates one text against `variables`. `code` may be 0 (not evaluated).
int32_t ExecuteCalculatorCode(VariableStore& variables, const char* code, double* doubleResult,
                              int32_t* intResult, const char** textResult);

// The value a read text gives, or nothing when it would not be evaluated.
// Writes are not evaluated here.
std::optional<double> EvaluateRead(const VariableStore& variables, std::string_view code);

// What a text does to which variable: a read, or a write of a number. Gives
// nothing for a text that would not be evaluated (the same rules as
// ExecuteCalculatorCode).
struct CodeAccess {
    VariableName name;
    bool write = false;
    double value = 0.0;  // the number written; 0 for a read
};
std::optional<CodeAccess> DescribeCalculatorCode(std::string_view code);

// A tooltip as the simulator shows it: each "%code%!d!" replaced by the value
// of the calculator code between the '%' signs as a whole number, rounded to
// the nearest (halves away from zero). A code that gives no value shows 0. A
// value with any other format ("!...!" other than "!d!", or none) is shown
// in shortest decimal form and the format text is kept, so that an
// unsupported format is visible. A '%' without a closing '%' is kept as text.
std::string EvaluateTooltip(const VariableStore& variables, std::string_view tooltip);

// The service as a host keeps it: the variables, and every text received
// (in order, exactly as sent; a null text is logged as "") unless told not
// to keep them.
struct CalculatorCodeService {
    VariableStore variables;
    std::vector<std::string> log;
    bool keepLog = true;  // off for long runs and benchmarks
    // Called with every text before it is evaluated, kept or not (a session
    // watching what the modules do, update by update).
    std::function<void(const char* code)> watch;

    int32_t Execute(const char* code, double* doubleResult, int32_t* intResult, const char** textResult) {
        if (watch) watch(code != nullptr ? code : "");
        if (keepLog) log.emplace_back(code != nullptr ? code : "");
        return ExecuteCalculatorCode(variables, code, doubleResult, intResult, textResult);
    }
};
