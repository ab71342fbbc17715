#include "module.h"

#include <dlfcn.h>
#include <strings.h>

namespace {

void SetError(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
}

// The bitmap table ends with id 0; a table without it stops here.
constexpr size_t kMaxBitmaps = 4096;

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Open(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        SetError(error, "cannot load " + path + ": " + (why != nullptr ? why : "unknown error"));
        return nullptr;
    }
    std::unique_ptr<LoadedModule> module(new LoadedModule);
    module->path_ = path;
    module->handle_ = handle;
    module->importTable_ = static_cast<ImportTableRecord*>(dlsym(handle, "ImportTable"));
    module->linkage_ = static_cast<LinkageHead*>(dlsym(handle, "Linkage"));
    module->bitmaps_ = static_cast<const TwBitmapResource*>(dlsym(handle, TW_BITMAP_RESOURCES_SYMBOL));

    if (module->importTable_ == nullptr || module->linkage_ == nullptr) {
        SetError(error, path + " is not a gauge module: it does not export ImportTable and Linkage");
        return nullptr;
    }
    if (module->importTable_->panelServicesId != kPanelServicesId || module->linkage_->id != kLinkageId) {
        SetError(error, path + " is not a gauge module: unexpected ImportTable or Linkage identifier");
        return nullptr;
    }
    return module;
}

LoadedModule::~LoadedModule() {
    if (handle_ != nullptr) dlclose(handle_);
}

std::vector<GaugeHeader*> LoadedModule::Gauges() const {
    std::vector<GaugeHeader*> gauges;
    GaugeHeader* const* table = linkage_->gauges;
    for (size_t i = 0; i < kMaxGaugesPerModule && table[i] != nullptr; ++i) gauges.push_back(table[i]);
    return gauges;
}

GaugeHeader* LoadedModule::FindGauge(std::string_view name) const {
    for (GaugeHeader* gauge : Gauges()) {
        if (gauge->name != nullptr && name.size() == std::char_traits<char>::length(gauge->name) &&
            strncasecmp(gauge->name, name.data(), name.size()) == 0) {
            return gauge;
        }
    }
    return nullptr;
}

std::span<const uint8_t> LoadedModule::Bitmap(uint32_t id) const {
    if (bitmaps_ == nullptr || id == 0) return {};
    for (size_t i = 0; i < kMaxBitmaps && bitmaps_[i].id != 0; ++i) {
        if (bitmaps_[i].id == id) return {bitmaps_[i].dib, bitmaps_[i].size};
    }
    return {};
}

bool LoadedModule::Contains(const void* address) const {
    Dl_info mine{}, theirs{};
    return address != nullptr && dladdr(linkage_, &mine) != 0 && dladdr(address, &theirs) != 0 &&
           mine.dli_fbase == theirs.dli_fbase;
}
