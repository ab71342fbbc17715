// Reading the PE headers of a loaded module, as the Windows loader laid it
// out in memory.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pe {

inline const IMAGE_NT_HEADERS32* NtHeaders(HMODULE module) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
}

inline uint32_t Rva(HMODULE module, uint32_t address) {
    return address - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(module));
}

// The section holding `address`, or 0 when none does.
inline const IMAGE_SECTION_HEADER* SectionOf(HMODULE module, uint32_t address) {
    const IMAGE_NT_HEADERS32* nt = NtHeaders(module);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    const uint32_t rva = Rva(module, address);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize) return section;
    }
    return nullptr;
}

inline std::string SectionName(const IMAGE_SECTION_HEADER* section) {
    return std::string(reinterpret_cast<const char*>(section->Name), strnlen(reinterpret_cast<const char*>(section->Name), 8));
}

inline std::vector<std::string> ExportedNames(HMODULE module) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& directory = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (directory.VirtualAddress == 0) return names;
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto* nameRvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    return names;
}

inline DWORD ExportedFunctionCount(HMODULE module) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& directory = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) return 0;
    return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress)->NumberOfFunctions;
}

// Names of the DLLs the module imports from, as its import table writes them.
inline std::vector<std::string> ImportedDlls(HMODULE module) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& directory = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> dlls;
    if (directory.VirtualAddress == 0) return dlls;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); entry->Name != 0;
         ++entry)
        dlls.emplace_back(reinterpret_cast<const char*>(base + entry->Name));
    return dlls;
}

// One entry of a module's imports from one DLL.
struct Import {
    bool byOrdinal;
    uint16_t ordinal;  // when byOrdinal
    std::string name;  // otherwise
};

// What the module imports from `dll` (its name compared without regard to
// case), in import table order; empty when it imports nothing from it.
inline std::vector<Import> ImportsFrom(HMODULE module, const char* dll) {
    auto* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& directory = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<Import> imports;
    if (directory.VirtualAddress == 0) return imports;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
        for (auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + entry->OriginalFirstThunk);
             thunk->u1.AddressOfData != 0; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)) {
                imports.push_back({true, static_cast<uint16_t>(IMAGE_ORDINAL32(thunk->u1.Ordinal)), ""});
            } else {
                auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
                imports.push_back({false, 0, reinterpret_cast<const char*>(byName->Name)});
            }
        }
    }
    return imports;
}

}  // namespace pe
