// Reading and writing simulator variables through the simulator's
// calculator-code service (panel-services slot 69).
//
// A variable name is written as the calculator code writes it
// ("A:Eng Oil Pressure:1,psi"); a variable reference is the same enclosed in
// parentheses ("(L:gearhorn, number)").
#pragma once

#include <cstdint>
#include <string>

// Size of the buffer the by-name routines format their code text into,
// terminating zero included. A longer text is cut, never overflowed.
constexpr int kCodeBufferSize = 255;

double GetVarNumber(const char* name);
int32_t GetVarInt(const std::string& reference);
bool GetVarBool(const char* name);
int32_t SetVarInt(const char* name, int32_t value);
void SetVarInt(std::string reference, int32_t value);
int32_t RunCalculatorCode(const char* code);
double ClampValue(double value, double low, double high);
