// Press-to-test in real time: a test variable above 1 sends the needles to
// their test value, and the module's one-second timer on the main window,
// fired by a real message loop, puts the variable back to 1 and the needles
// back to the real value. The gauges are updated as the simulator does it,
// about 18 times a second, all through the test.
#include "hx8_module.h"

namespace hx8 {
namespace {

struct PressToTest {
    const char* what;
    const char* testVariable;
    const char* engine1;
    const char* engine2;
    const char* valueVariable1;
    const char* valueVariable2;
    double valueSet1, valueSet2;  // what the variables hold
    double shown1, shown2;        // what the needles show outside the test
    double testValue;
};

const PressToTest kTests[] = {
    {"oil quantity", "L:Eng Oil Qty Test,number", "EngOilQty1", "EngOilQty2", "A:Eng Oil Quantity:1,percent",
     "A:Eng Oil Quantity:2,percent", 80, 80, 3.0, 3.0, 4.75},
    {"vibration", "L:Engine Vibration Test,number", "EngVib1", "EngVib2", "A:Turb Eng Vibration:1,number",
     "A:Turb Eng Vibration:2,number", 1.5, 2.5, 1.5, 2.5, 5.0},
};

constexpr DWORD kFrameMs = 55;

class TestTimers : public Hx8Test, public ::testing::WithParamInterface<PressToTest> {
protected:
    // One simulator frame: both gauges updated, then the message loop.
    void Frame(std::vector<double>& engine1, std::vector<double>& engine2) {
        engine1 = UpdateNeedles(Gauge(GetParam().engine1));
        engine2 = UpdateNeedles(Gauge(GetParam().engine2));
        win32host::PumpMessages(kFrameMs);
    }

    static void ExpectAll(const std::vector<double>& values, double expected, const char* when) {
        ASSERT_FALSE(values.empty());
        for (double value : values) EXPECT_NEAR(value, expected, 1e-9) << when;
    }

    // Runs frames until the test variable is back at 1; the seconds it took.
    double RunTestToItsEnd() {
        const PressToTest& t = GetParam();
        std::vector<double> engine1, engine2;
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        Frame(engine1, engine2);
        ExpectAll(engine1, t.testValue, "first update of the test");
        ExpectAll(engine2, t.testValue, "first update of the test");
        do {
            QueryPerformanceCounter(&now);
            if (now.QuadPart - start.QuadPart > 10 * frequency.QuadPart) {
                ADD_FAILURE() << "the test variable was not reset within 10 s";
                break;
            }
            Frame(engine1, engine2);
            if (Get(t.testVariable) != 1) {
                ExpectAll(engine1, t.testValue, "during the test");
                ExpectAll(engine2, t.testValue, "during the test");
            }
        } while (Get(t.testVariable) != 1);
        QueryPerformanceCounter(&now);
        return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    }
};

TEST_P(TestTimers, TestValueForAboutOneSecondThenBackToTheRealValue) {
    const PressToTest& t = GetParam();
    Set(t.valueVariable1, t.valueSet1);
    Set(t.valueVariable2, t.valueSet2);
    Set(t.testVariable, 2);

    const double seconds = RunTestToItsEnd();
    EXPECT_GE(seconds, 0.8);
    EXPECT_LE(seconds, 3.0);

    std::vector<double> engine1, engine2;
    Frame(engine1, engine2);
    ExpectAll(engine1, t.shown1, "after the test");
    ExpectAll(engine2, t.shown2, "after the test");

    // The timer was killed: nothing writes the variable again.
    Set(t.testVariable, 0.5);
    for (DWORD frame = 0; frame < 1500 / kFrameMs; ++frame) Frame(engine1, engine2);
    EXPECT_EQ(Get(t.testVariable), 0.5) << "the timer fired again";
    ExpectAll(engine1, t.shown1, "at rest");

    // A new press starts a new test.
    Set(t.testVariable, 2);
    const double again = RunTestToItsEnd();
    EXPECT_GE(again, 0.8);
    EXPECT_LE(again, 3.0);
}

INSTANTIATE_TEST_SUITE_P(Instruments, TestTimers, ::testing::ValuesIn(kTests),
                         [](const ::testing::TestParamInfo<PressToTest>& info) {
                             return std::string(info.param.what[0] == 'o' ? "OilQuantity" : "Vibration");
                         });

}  // namespace
}  // namespace hx8
