// The gauge file as a Windows image: a 32-bit x86 DLL that exports exactly
// ImportTable and Linkage, imports only from system DLLs (so it loads into
// the simulator with no runtime DLL beside it), and carries version
// information.
#include <algorithm>
#include <cctype>

#include "hx8_module.h"
#include "pe_image.h"

namespace hx8 {
namespace {

using PeImage = Hx8Test;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST_F(PeImage, IsA32BitX86Dll) {
    const IMAGE_NT_HEADERS32* nt = pe::NtHeaders(module.handle);
    EXPECT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_NE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
    EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
}

TEST_F(PeImage, ExportsExactlyImportTableAndLinkage) {
    std::vector<std::string> names = pe::ExportedNames(module.handle);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ImportTable", "Linkage"}));
    EXPECT_EQ(pe::ExportedFunctionCount(module.handle), 2u) << "exports by ordinal only";
}

TEST_F(PeImage, ImportsOnlySystemDlls) {
    const std::vector<std::string> system = {"kernel32.dll", "user32.dll", "msvcrt.dll"};
    const std::vector<std::string> dlls = pe::ImportedDlls(module.handle);
    ASSERT_FALSE(dlls.empty());
    for (const std::string& dll : dlls)
        EXPECT_NE(std::find(system.begin(), system.end(), Lower(dll)), system.end())
            << dll << " is not a system DLL (a compiler runtime linked dynamically?)";
    EXPECT_EQ(pe::NtHeaders(module.handle)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress,
              0u);
}

TEST_F(PeImage, CarriesVersionInformation) {
    const std::string path = win32host::BesideProgram("tw_hx8.gau");
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    char* name = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904E4\\OriginalFilename",
                               reinterpret_cast<void**>(&name), &length));
    EXPECT_STREQ(name, "tw_hx8.gau");
}

}  // namespace
}  // namespace hx8
