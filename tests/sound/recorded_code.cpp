#include "recorded_code.h"

#include "standard_routines.h"

namespace {

std::vector<std::string> sentCode;

int32_t FSAPI RecordCalculatorCode(const char* code, double*, int32_t*, const char**) {
    sentCode.emplace_back(code);
    return 1;
}

PanelServices MakeServices() {
    PanelServices services{};
    services.executeCalculatorCode = RecordCalculatorCode;
    return services;
}

PanelServices services = MakeServices();

}  // namespace

ImportTableRecord ImportTable = {kPanelServicesId, &services, 0, nullptr};
GaugeHeader** const moduleGaugeTable = nullptr;

std::vector<std::string>& SentCalculatorCode() { return sentCode; }
