// The host's variable store and calculator-code evaluator: what it reads,
// writes and refuses, and tooltip texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "calculator_code.h"

namespace {

TEST(VariableStore, NamesCompareWithoutCaseAndBlanksAroundSeparators) {
    VariableStore store;
    ASSERT_TRUE(store.Set("A:Eng Oil Pressure:1,psi", 42));
    const char* sameVariable[] = {"A:ENG OIL Pressure:1, psi", "a:eng oil pressure : 1 , psi", " A : Eng Oil Pressure:1",
                                  "A:Eng Oil Pressure:1,bar"};
    for (const char* name : sameVariable) EXPECT_EQ(store.Value(name, -1), 42) << name;

    const char* otherVariables[] = {"A:Eng Oil Pressure:2,psi", "L:Eng Oil Pressure:1,psi", "A:Eng Oil Pressure,psi",
                                    "A:EngOil Pressure:1,psi"};
    for (const char* name : otherVariables) EXPECT_FALSE(store.Find(name).has_value()) << name;

    // The unit is kept as last given, not converted.
    EXPECT_EQ(store.Find("A:Eng Oil Pressure:1")->unit, "psi");
    store.Set("A:eng oil pressure:1, bar", 3);
    EXPECT_EQ(store.Find("A:Eng Oil Pressure:1,psi")->unit, "bar");
    EXPECT_EQ(store.All().size(), 1u);
}

TEST(VariableStore, RefusesMalformedNames) {
    VariableStore store;
    const char* malformed[] = {"", "Eng Oil Pressure", "X:Eng", "AB:Eng", "A:", "A:Eng::1", "(A:Eng)", "A:Eng)", ":x"};
    for (const char* name : malformed) {
        EXPECT_FALSE(store.Set(name, 1)) << '"' << name << '"';
        EXPECT_FALSE(ParseVariableName(name).has_value()) << '"' << name << '"';
    }
    EXPECT_TRUE(store.All().empty());
}

struct Evaluation {
    const char* code;
    int32_t returned;
    std::optional<double> number;  // stored into the double result; nothing when left alone
    std::optional<int32_t> integer;
};

TEST(CalculatorCode, ReadsAndWrites) {
    const double sentinel = -777.0;
    const Evaluation cases[] = {
        {"(A:Eng Oil Pressure:1,psi)", 1, 61.5, 61},
        {"((A:ENG OIL Pressure:1, psi))", 1, 61.5, 61},
        {"  ( (a:eng oil pressure:1 , psi) )  ", 1, 61.5, 61},
        {"(A:Eng Oil Pressure:1)", 1, 61.5, 61},
        {"(L:Minus, number)", 1, -2.75, -2},   // integer result truncates towards zero
        {"(L:Never Written, number)", 1, 0.0, 0},  // locals read 0 until written
        {"(A:Never Set:1, psi)", 0, std::nullopt, std::nullopt},
        {"(A:Huge, number)", 1, 1e12, std::numeric_limits<int32_t>::max()},
        {"(A:Tiny, number)", 1, -1e12, std::numeric_limits<int32_t>::min()},
        {"", 0, std::nullopt, std::nullopt},
        {"()", 0, std::nullopt, std::nullopt},
        {"(((L:Minus, number)))", 0, std::nullopt, std::nullopt},
        {"(L:Minus, number", 0, std::nullopt, std::nullopt},
        {"(E:SIMULATION TIME, seconds)", 0, std::nullopt, std::nullopt},
        {"(L:a) (L:b)", 0, std::nullopt, std::nullopt},
        {"1 (>L:Written, number)", 1, std::nullopt, std::nullopt},  // a write leaves the results alone
    };
    for (const Evaluation& c : cases) {
        SCOPED_TRACE(c.code);
        VariableStore store;
        store.Set("A:Eng Oil Pressure:1,psi", 61.5);
        store.Set("L:Minus,number", -2.75);
        store.Set("A:Huge,number", 1e12);
        store.Set("A:Tiny,number", -1e12);
        double number = sentinel;
        int32_t integer = -777;
        const char* text = "untouched";
        EXPECT_EQ(ExecuteCalculatorCode(store, c.code, &number, &integer, &text), c.returned);
        EXPECT_EQ(number, c.number.value_or(sentinel));
        EXPECT_EQ(integer, c.integer.value_or(-777));
        EXPECT_STREQ(text, "untouched");
    }
    VariableStore store;
    EXPECT_EQ(ExecuteCalculatorCode(store, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(CalculatorCode, WritesSetLocalVariablesOnly) {
    struct Write {
        const char* code;
        int32_t returned;
        std::optional<double> stored;  // value of L:Target afterwards
    };
    const Write cases[] = {
        {"1 (>L:Target,number)", 1, 1.0},
        {"-1 (>L:Target, number)", 1, -1.0},
        {"0.25 (>l:target , number)", 1, 0.25},
        {"-2147483648 (>L:Target,number)", 1, -2147483648.0},
        {"  7   (>L:Target)  ", 1, 7.0},
        {"7(>L:Target)", 1, 7.0},
        {"1 (>A:Target,number)", 0, std::nullopt},  // aircraft variables are not written
        {"+1 (>L:Target,number)", 0, std::nullopt},
        {"x (>L:Target,number)", 0, std::nullopt},
        {"nan (>L:Target,number)", 0, std::nullopt},
        {"1 (L:Target,number)", 0, std::nullopt},
        {"1 (>L:Target,number", 0, std::nullopt},
        {"1 (>)", 0, std::nullopt},
        {"1 2 (>L:Target,number)", 0, std::nullopt},
    };
    for (const Write& c : cases) {
        SCOPED_TRACE(c.code);
        VariableStore store;
        EXPECT_EQ(ExecuteCalculatorCode(store, c.code, nullptr, nullptr, nullptr), c.returned);
        const auto found = store.Find("L:Target");
        ASSERT_EQ(found.has_value(), c.stored.has_value());
        if (found) {
            EXPECT_EQ(found->value, *c.stored);
        } else {
            EXPECT_TRUE(store.All().empty());
        }
    }
}

TEST(CalculatorCode, ServiceLogsEveryTextExactly) {
    CalculatorCodeService service;
    double d = 0;
    service.Execute("(A:Eng Oil Pressure:1,psi)", &d, nullptr, nullptr);
    service.Execute("1 (>L:x, number)", nullptr, nullptr, nullptr);
    service.Execute("not code at all", nullptr, nullptr, nullptr);
    service.Execute(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(service.log,
              (std::vector<std::string>{"(A:Eng Oil Pressure:1,psi)", "1 (>L:x, number)", "not code at all", ""}));
    EXPECT_EQ(service.variables.Value("L:x"), 1.0);
}

TEST(Tooltip, CodeBetweenPercentSignsShownAsWholeNumber) {
    VariableStore store;
    store.Set("A:Eng Oil Pressure:1,psi", 45.5);
    store.Set("A:General Eng1 Oil Temperature,Celsius", -0.4);
    store.Set("L:Ratio,number", 0.125);
    struct Case {
        std::string tooltip, shown;
    };
    const Case cases[] = {
        {"Engine 1 Oil Pressure (%((A:ENG OIL Pressure:1, psi))%!d!PSI)", "Engine 1 Oil Pressure (46PSI)"},
        {"T %((A:GENERAL ENG1 OIL TEMPERATURE, celsius))%!d!\xB0" "C", "T 0\xB0" "C"},  // no "-0"
        {"%((A:Not Known, psi))%!d! psi", "0 psi"},
        {"%((L:Never, number))%!d!", "0"},
        {"a %((L:Ratio))%!d! b %((A:Eng Oil Pressure:1))%!d! c", "a 0 b 46 c"},
        {"%((L:Ratio))%", "0.125"},
        {"%((L:Ratio))%!4.2f!", "0.125!4.2f!"},  // an unsupported format stays visible
        {"Engine 1 Vibration", "Engine 1 Vibration"},
        {"100% sure", "100% sure"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(EvaluateTooltip(store, c.tooltip), c.shown) << c.tooltip;
}

}  // namespace
