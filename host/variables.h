// The substitute simulator's named variables: aircraft variables (A:) that a
// scenario or test sets, and local variables (L:) that gauges write.
//
// A variable is keyed by its class, name and index, "A:Eng Oil Pressure:1";
// the unit after the comma is not part of the key. Keys compare without
// regard to case and to blanks around ':' and ',', so "A:ENG OIL Pressure:1,
// psi" and "a:eng oil pressure : 1,psi" are the same variable. Units are not
// converted: a value is kept with the unit it was last set with, and a read
// in any unit gets the stored number.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

struct VariableName {
    char varClass;     // 'A' or 'L', upper case
    std::string key;   // normalised "A:ENG OIL PRESSURE:1"
    std::string unit;  // as given, blanks around it trimmed; may be empty
};

// Parses "A:Eng Oil Pressure:1,psi" (unit optional). Gives nothing for a text
// that is not a variable name of class A or L: no class, no name, or a
// parenthesis inside.
std::optional<VariableName> ParseVariableName(std::string_view text);

struct VariableValue {
    double value = 0.0;
    std::string unit;
};

class VariableStore {
public:
    // Sets a variable by its name, with or without a unit. Returns false (and
    // stores nothing) for a malformed name.
    bool Set(std::string_view name, double value);
    void Set(const VariableName& name, double value);

    // The variable's value and unit, or nothing when it was never set.
    std::optional<VariableValue> Find(std::string_view name) const;
    std::optional<VariableValue> Find(const VariableName& name) const;

    // The value, or `fallback` when the variable was never set.
    double Value(std::string_view name, double fallback = 0.0) const;

    bool Remove(std::string_view name);
    void Clear() { values_.clear(); }

    // Every variable by key, in key order.
    const std::map<std::string, VariableValue>& All() const { return values_; }

private:
    std::map<std::string, VariableValue> values_;
};
