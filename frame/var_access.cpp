#include "var_access.h"

#include <cstdio>

#include "standard_routines.h"

namespace {

int32_t Execute(const char* code, double* doubleResult, int32_t* intResult) {
    return ImportTable.panelServices->executeCalculatorCode(code, doubleResult, intResult, nullptr);
}

}  // namespace

// A read whose service stores nothing (an unknown name, an empty reference)
// returns 0, 0.0 or false: the result is prepared before the call.
double GetVarNumber(const char* name) {
    char code[kCodeBufferSize];
    std::snprintf(code, sizeof code, "(%s)", name);
    double value = 0.0;
    Execute(code, &value, nullptr);
    return value;
}

int32_t GetVarInt(const std::string& reference) {
    int32_t value = 0;
    Execute(reference.c_str(), nullptr, &value);
    return value;
}

bool GetVarBool(const char* name) {
    char code[kCodeBufferSize];
    std::snprintf(code, sizeof code, "(%s)", name);
    int32_t value = 0;
    Execute(code, nullptr, &value);
    return value != 0;
}

int32_t SetVarInt(const char* name, int32_t value) {
    char code[kCodeBufferSize];
    std::snprintf(code, sizeof code, "%d (>%s)", static_cast<int>(value), name);
    return RunCalculatorCode(code);
}

void SetVarInt(std::string reference, int32_t value) {
    if (reference.empty()) return;
    // "(L:name, number)" becomes "-1 (>L:name, number)".
    const std::string code = std::to_string(value) + ' ' + reference[0] + '>' + reference.substr(1);
    RunCalculatorCode(code.c_str());
}

int32_t RunCalculatorCode(const char* code) { return Execute(code, nullptr, nullptr); }

double ClampValue(double value, double low, double high) {
    if (value > high) return high;
    if (value < low) return low;
    return value;
}
