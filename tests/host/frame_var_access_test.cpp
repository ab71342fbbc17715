// The frame's variable access routines, linked into this test program with a
// panel-services table of its own: the exact calculator-code texts they send,
// the results they ask for, and what they return.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "calculator_code.h"
#include "standard_routines.h"
#include "var_access.h"

// The frame expects the program it is linked into to define these.
extern "C" {
ImportTableRecord ImportTable = {kPanelServicesId, nullptr, 0, nullptr};
}
namespace {
ElementHeader* noRoot = nullptr;
GaugeHeader onlyGauge = {kGaugeHeaderVersion, "Only", &noRoot, STANDARD_GAUGE_ROUTINES, nullptr, 1, {}, nullptr, nullptr, {}};
GaugeHeader* gaugeTable[] = {&onlyGauge, nullptr};
}  // namespace
GaugeHeader** const moduleGaugeTable = gaugeTable;

namespace {

// One call of the calculator-code service as the frame made it.
struct Received {
    std::string code;
    bool wantsDouble;
    bool wantsInt;
    bool wantsText;
};

// The service: records every call, then either evaluates it against the
// host's variable store or, for `storesNothing`, leaves every result alone.
struct ServiceFixture : ::testing::Test {
    static inline ServiceFixture* current = nullptr;
    CalculatorCodeService calculator;
    std::vector<Received> received;
    bool storesNothing = false;
    PanelServices services{};

    static int32_t FSAPI Execute(const char* code, double* d, int32_t* i, const char** t) {
        ServiceFixture& self = *current;
        self.received.push_back({code, d != nullptr, i != nullptr, t != nullptr});
        if (self.storesNothing) return 0;
        return self.calculator.Execute(code, d, i, t);
    }

    void SetUp() override {
        current = this;
        services.executeCalculatorCode = Execute;
        ImportTable.panelServices = &services;
    }
    void TearDown() override {
        ImportTable.panelServices = nullptr;
        current = nullptr;
    }
};

using VarAccessTexts = ServiceFixture;

TEST_F(VarAccessTexts, EachRoutineSendsExactlyItsTextAndAsksForOneKindOfResult) {
    enum Wants { kDouble, kInt, kNone };
    struct Case {
        const char* what;
        std::function<void()> call;
        const char* text;
        Wants wants;
    };
    const Case cases[] = {
        {"GetVarNumber wraps the name", [] { GetVarNumber("A:Eng Oil Pressure:1,psi"); },
         "(A:Eng Oil Pressure:1,psi)", kDouble},
        {"GetVarNumber keeps blanks and case", [] { GetVarNumber("A:General Eng1 Oil Temperature,Celsius"); },
         "(A:General Eng1 Oil Temperature,Celsius)", kDouble},
        {"GetVarBool wraps the name", [] { GetVarBool("A:IS SLEW ACTIVE, bool"); }, "(A:IS SLEW ACTIVE, bool)", kInt},
        {"GetVarInt sends the reference unchanged", [] { GetVarInt("(L:gearhorn, number)"); },
         "(L:gearhorn, number)", kInt},
        {"GetVarInt sends an empty reference unchanged", [] { GetVarInt(""); }, "", kInt},
        {"SetVarInt by name", [] { SetVarInt("L:Eng Oil Qty Test,number", 1); }, "1 (>L:Eng Oil Qty Test,number)",
         kNone},
        {"SetVarInt by name, negative", [] { SetVarInt("L:x,number", -25); }, "-25 (>L:x,number)", kNone},
        {"SetVarInt by name, lowest value",
         [] { SetVarInt("L:x,number", std::numeric_limits<int32_t>::min()); }, "-2147483648 (>L:x,number)", kNone},
        {"SetVarInt by reference keeps the blank after the comma",
         [] { SetVarInt(std::string("(L:ViewSystemStatus, number)"), 0); }, "0 (>L:ViewSystemStatus, number)", kNone},
        {"SetVarInt by reference, -1", [] { SetVarInt(std::string("(L:gearhorn, number)"), -1); },
         "-1 (>L:gearhorn, number)", kNone},
        {"SetVarInt by reference, large", [] { SetVarInt(std::string("(L:vol,number)"), 2147483647); },
         "2147483647 (>L:vol,number)", kNone},
        {"RunCalculatorCode sends the text unchanged", [] { RunCalculatorCode("1 (>L:a, number) (L:b)"); },
         "1 (>L:a, number) (L:b)", kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        received.clear();
        c.call();
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].code, c.text);
        EXPECT_EQ(received[0].wantsDouble, c.wants == kDouble);
        EXPECT_EQ(received[0].wantsInt, c.wants == kInt);
        EXPECT_FALSE(received[0].wantsText);
    }
}

TEST_F(VarAccessTexts, WriteByEmptyReferenceSendsNothing) {
    SetVarInt(std::string(), -1);
    EXPECT_TRUE(received.empty());
}

TEST_F(VarAccessTexts, ReadsReturnWhatTheServiceStored) {
    calculator.variables.Set("L:flag,number", 2);
    calculator.variables.Set("L:minus,number", -1);
    calculator.variables.Set("L:zero,number", 0);
    calculator.variables.Set("A:Eng Oil Pressure:1,psi", 61.25);
    EXPECT_TRUE(GetVarBool("L:flag,number"));
    EXPECT_TRUE(GetVarBool("L:minus,number"));
    EXPECT_FALSE(GetVarBool("L:zero,number"));
    EXPECT_EQ(GetVarInt("(L:minus, number)"), -1);
    EXPECT_EQ(GetVarNumber("A:Eng Oil Pressure:1,psi"), 61.25);
}

TEST_F(VarAccessTexts, ReadThatStoresNothingReturnsZero) {
    storesNothing = true;
    EXPECT_EQ(GetVarNumber("A:Eng Oil Pressure:1,psi"), 0.0);
    EXPECT_EQ(GetVarInt("(L:gearhorn, number)"), 0);
    EXPECT_EQ(GetVarInt(""), 0);
    EXPECT_FALSE(GetVarBool("A:IS SLEW ACTIVE, bool"));
    // The host's own service stores nothing for an aircraft variable it does not know.
    storesNothing = false;
    EXPECT_EQ(GetVarNumber("A:Unknown Thing:3,psi"), 0.0);
    EXPECT_FALSE(GetVarBool("A:Unknown Thing,bool"));
}

TEST_F(VarAccessTexts, WritesPassTheServiceResultBack) {
    EXPECT_EQ(SetVarInt("L:Eng Oil Qty Test,number", 1), 1);
    EXPECT_EQ(calculator.variables.Value("L:Eng Oil Qty Test,number"), 1.0);
    EXPECT_EQ(RunCalculatorCode("this is not code"), 0);
    SetVarInt(std::string("(L:gearhorn, number)"), -1);
    EXPECT_EQ(calculator.variables.Value("L:gearhorn,number"), -1.0);
}

// A name too long for the 255-byte code buffer is cut; nothing is written
// past the buffer (the sanitizer build would catch it).
TEST_F(VarAccessTexts, NameTooLongForTheCodeBufferIsCut) {
    const std::string name = "L:" + std::string(400, 'x') + ",number";
    const size_t longest = kCodeBufferSize - 1;

    GetVarNumber(name.c_str());
    GetVarBool(name.c_str());
    SetVarInt(name.c_str(), -123456);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].code, ("(" + name).substr(0, longest));
    EXPECT_EQ(received[1].code, ("(" + name).substr(0, longest));
    EXPECT_EQ(received[2].code, ("-123456 (>" + name).substr(0, longest));

    // The reference forms have no buffer and send the whole text.
    received.clear();
    SetVarInt("(" + name + ")", 7);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].code, "7 (>" + name + ")");
}

TEST(ClampValue, LimitsToTheBoundsAndPassesNaNThrough) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double value, low, high, expected;
    };
    const Case cases[] = {
        {150, 0, 100, 100},  {-60, -50, 180, -50}, {42.5, 0, 100, 42.5}, {100, 0, 100, 100},
        {0, 0, 100, 0},      {-50, -50, 180, -50}, {180, -50, 180, 180}, {100.000001, 0, 100, 100},
        {-1e-9, 0, 5, 0},    {inf, 0, 5, 5},       {-inf, 0, 5, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClampValue(c.value, c.low, c.high), c.expected) << c.value << " in " << c.low << ".." << c.high;
    }
    EXPECT_TRUE(std::isnan(ClampValue(std::nan(""), 0, 100)));
}

}  // namespace
