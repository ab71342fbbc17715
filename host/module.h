// A gauge module loaded into the host's process (natively a shared library
// opened with dlopen): its ImportTable, its Linkage with the gauge table,
// and its bitmaps by resource number.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap_table.h"
#include "gauge_records.h"

// Longest gauge table read; a table without its 0 entry stops here.
constexpr size_t kMaxGaugesPerModule = 256;

class LoadedModule {
public:
    // Opens the module at `path` (RTLD_NOW | RTLD_LOCAL) and checks that it
    // exports ImportTable and Linkage with the descriptor identifiers the
    // simulator expects. On failure gives nothing and says why in `error`.
    static std::unique_ptr<LoadedModule> Open(const std::string& path, std::string* error = nullptr);

    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    const std::string& path() const { return path_; }
    ImportTableRecord* importTable() const { return importTable_; }
    LinkageHead* linkage() const { return linkage_; }

    // The gauge table, in order, up to its 0 entry.
    std::vector<GaugeHeader*> Gauges() const;
    // The gauge of that name (compared without regard to case), or 0.
    GaugeHeader* FindGauge(std::string_view name) const;

    // The packed DIB of bitmap resource `id`, empty when the module has no
    // such bitmap or carries no bitmap table.
    std::span<const uint8_t> Bitmap(uint32_t id) const;
    bool HasBitmapTable() const { return bitmaps_ != nullptr; }

    // Whether `address` (a routine or a record) lies in this module.
    bool Contains(const void* address) const;

private:
    LoadedModule() = default;

    std::string path_;
    void* handle_ = nullptr;
    ImportTableRecord* importTable_ = nullptr;
    LinkageHead* linkage_ = nullptr;
    const TwBitmapResource* bitmaps_ = nullptr;
};
