#include "panel_services.h"

#include <cstring>
#include <utility>

namespace {

PanelServiceState* current = nullptr;

void Record(int slot, ElementHeader* element, std::optional<uint32_t> value = std::nullopt) {
    if (current != nullptr) current->calls.push_back({slot, element, value});
}

template <int Slot>
void FSAPI ElementSlot(ElementHeader* element) {
    Record(Slot, element);
}

template <int Slot>
void FSAPI ElementValueSlot(ElementHeader* element, uint32_t value) {
    Record(Slot, element, value);
}

template <int Slot>
void FSAPI UnofferedSlot() {
    Record(Slot, nullptr);
}

int32_t FSAPI ExecuteSlot(const char* code, double* doubleResult, int32_t* intResult, const char** textResult) {
    if (current == nullptr) return 0;
    return current->calculator.Execute(code, doubleResult, intResult, textResult);
}

// The table is an array of pointer-sized slots; the named fields are filled
// afterwards.
template <int Slot>
void SetUnoffered(PanelServices& table) {
    void(FSAPI * slot)() = UnofferedSlot<Slot>;
    std::memcpy(reinterpret_cast<char*>(&table) + Slot * sizeof slot, &slot, sizeof slot);
}

template <int... Slots>
void FillUnoffered(PanelServices& table, std::integer_sequence<int, Slots...>) {
    (SetUnoffered<Slots>(table), ...);
}

PanelServices MakeTable() {
    PanelServices table{};
    FillUnoffered(table, std::make_integer_sequence<int, sizeof(PanelServices) / sizeof(void*)>());
    table.elementListQuery = ElementSlot<24>;
    table.elementListInstall = ElementValueSlot<25>;
    table.elementListInitialise = ElementSlot<26>;
    table.elementListUpdate = ElementSlot<27>;
    table.elementListGenerate = ElementValueSlot<28>;
    table.elementListDraw = ElementSlot<29>;
    table.slot30 = reinterpret_cast<void*>(&ElementSlot<30>);
    table.elementListKill = ElementSlot<31>;
    table.executeCalculatorCode = ExecuteSlot;
    return table;
}

static_assert(sizeof(PanelServices) % sizeof(void*) == 0);
static_assert(sizeof(void (*)()) == sizeof(void*));

}  // namespace

PanelServices* HostPanelServices() {
    static PanelServices table = MakeTable();
    return &table;
}

void SetPanelServiceState(PanelServiceState* state) { current = state; }
