// The frame linked into the sound tests expects what a module defines: an
// ImportTable, whose calculator-code service here records every code text
// the module sends. Portable: the Windows build's tests use it as well.
#pragma once

#include <string>
#include <vector>

// Every code text the module handed to the calculator-code service, in order.
std::vector<std::string>& SentCalculatorCode();
