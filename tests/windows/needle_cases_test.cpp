// The needle case table the native tests run too, against the Windows build
// of the module: each case on a freshly loaded module.
#include <cctype>

#include "hx8_module.h"
#include "needle_cases.h"

namespace hx8 {
namespace {

class NeedleCases : public Hx8Test, public ::testing::WithParamInterface<NeedleCase> {};

TEST_P(NeedleCases, EveryNeedleOfTheGaugeShowsTheExpectedValue) {
    const NeedleCase& c = GetParam();
    for (const NeedleCaseVariable& variable : c.variables) {
        if (variable.name == nullptr) break;
        Set(variable.name, variable.value);
    }
    const uint32_t header = Gauge(c.gauge);
    ASSERT_NE(header, 0u);
    const std::vector<double> values = UpdateNeedles(header);
    ASSERT_FALSE(values.empty());
    for (double value : values) EXPECT_NEAR(value, c.expected, kNeedleCaseTolerance);
}

std::string CaseName(const ::testing::TestParamInfo<NeedleCase>& info) {
    std::string name = std::to_string(info.index) + "_";
    for (const char* p = info.param.what; *p != '\0'; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, NeedleCases, ::testing::ValuesIn(kNeedleCases), CaseName);

}  // namespace
}  // namespace hx8
