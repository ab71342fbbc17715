// tw_sound.gau as a Windows image: a 32-bit x86 DLL that exports exactly
// ImportTable and Linkage; imports DirectSoundCreate by ordinal 1 and
// nothing else from dsound.dll, the four SimConnect calls by name, and
// otherwise only system DLLs (so no compiler runtime DLL is needed); and
// carries its bitmap, its version and the manifest that names SimConnect's
// side-by-side assembly.
#include <algorithm>
#include <cctype>
#include <regex>

#include "pe_image.h"
#include "sound_module.h"
#include "tw_version.h"

namespace sound_win {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

BOOL CALLBACK CountResource(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

class SoundImage : public SoundModuleTest {
protected:
    void SetUp() override {
        SoundModuleTest::SetUp();
        LoadModuleOnly();
        module = sim.module().handle;
    }
    HMODULE module = nullptr;
};

TEST_F(SoundImage, IsA32BitX86DllExportingExactlyImportTableAndLinkage) {
    const IMAGE_NT_HEADERS32* nt = pe::NtHeaders(module);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_NE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
    std::vector<std::string> names = pe::ExportedNames(module);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ImportTable", "Linkage"}));
    EXPECT_EQ(pe::ExportedFunctionCount(module), 2u) << "exports by ordinal only";
}

TEST_F(SoundImage, ImportsOnlyTheListedDlls) {
    const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll", "msvcrt.dll", "winmm.dll", "dsound.dll",
                                              "simconnect.dll"};
    std::vector<std::string> dlls;
    for (const std::string& dll : pe::ImportedDlls(module)) dlls.push_back(Lower(dll));
    for (const std::string& dll : dlls)
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), dll), allowed.end())
            << dll << " is not on the list (a compiler runtime linked dynamically?)";
    for (const char* needed : {"dsound.dll", "simconnect.dll", "winmm.dll"})
        EXPECT_NE(std::find(dlls.begin(), dlls.end(), needed), dlls.end()) << needed;
    EXPECT_EQ(pe::NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress, 0u);
}

TEST_F(SoundImage, DirectSoundCreateByOrdinalOneAndNothingElseFromDsound) {
    const std::vector<pe::Import> imports = pe::ImportsFrom(module, "dsound.dll");
    ASSERT_EQ(imports.size(), 1u);
    EXPECT_TRUE(imports[0].byOrdinal);
    EXPECT_EQ(imports[0].ordinal, 1);
    // And the loader bound it to the DirectSoundCreate of the dsound.dll it loaded.
    HMODULE dsound = GetModuleHandleA("dsound.dll");
    ASSERT_NE(dsound, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dsound, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void*>(GetProcAddress(dsound, "DirectSoundCreate")));
}

TEST_F(SoundImage, TheFourSimConnectCallsByUndecoratedName) {
    std::vector<std::string> names;
    for (const pe::Import& import : pe::ImportsFrom(module, "SimConnect.dll")) {
        EXPECT_FALSE(import.byOrdinal);
        names.push_back(import.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"SimConnect_CallDispatch", "SimConnect_Close", "SimConnect_Open",
                                               "SimConnect_SubscribeToSystemEvent"}));
}

TEST_F(SoundImage, ManifestTwoNamesTheSimConnectAssembly) {
    int manifests = 0;
    EnumResourceNamesA(module, MAKEINTRESOURCEA(24), CountResource, reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(manifests, 1);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24));
    ASSERT_NE(resource, nullptr) << "no manifest with id 2";
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    const std::string manifest(bytes, SizeofResource(module, resource));
    const std::regex identity(
        R"re(<dependentAssembly>\s*<assemblyIdentity\s+type="win32"\s+name="Microsoft\.FlightSimulator\.SimConnect"\s+)re"
        R"re(version="10\.0\.61259\.0"\s+processorArchitecture="x86"\s+publicKeyToken="67c7c14424d61b5b"\s*/>)re");
    EXPECT_TRUE(std::regex_search(manifest, identity)) << manifest;
}

TEST_F(SoundImage, CarriesBitmap1280) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1280), MAKEINTRESOURCEA(2));  // RT_BITMAP
    ASSERT_NE(resource, nullptr);
    const auto* info = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, resource)));
    EXPECT_EQ(info->biWidth, 1);
    EXPECT_EQ(info->biHeight, 1);
    EXPECT_EQ(info->biBitCount, 8);
}

// Both modules show the one version number, in the fixed part and as text.
TEST(Version, BothModulesShowTheReleaseVersion) {
    for (const char* file : {"tw_sound.gau", "tw_hx8.gau"}) {
        const std::string path = win32host::BesideProgram(file);
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        ASSERT_GT(size, 0u) << file;
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(TW_VERSION_MAJOR << 16 | TW_VERSION_MINOR)) << file;
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(TW_VERSION_PATCH << 16)) << file;
        for (const char* key : {"FileVersion", "ProductVersion"}) {
            char* text = nullptr;
            ASSERT_TRUE(VerQueryValueA(info.data(), (std::string("\\StringFileInfo\\040904E4\\") + key).c_str(),
                                       reinterpret_cast<void**>(&text), &length));
            EXPECT_STREQ(text, TW_VERSION_TEXT) << file << " " << key;
        }
        char* name = nullptr;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\OriginalFilename",
                                   reinterpret_cast<void**>(&name), &length));
        EXPECT_STREQ(name, file);
    }
}

}  // namespace
}  // namespace sound_win
