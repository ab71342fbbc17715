// The native file stand-ins behave as the Windows C runtime and Win32 do for
// what the sound module asks of them.
#include <gtest/gtest.h>

#include <control_files.h>
#include <share.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "sound_test_support.h"

namespace {

class PlatformFilesTest : public ::testing::Test {
protected:
    void TearDown() override { TwPlatformResetFiles(); }

    std::string Windows(const std::string& relative) const {
        std::string path = sim.root().string() + "\\" + relative;
        return path;
    }
    std::string ReadAll(const std::string& windowsPath, const char* mode) {
        FILE* file = _fsopen(windowsPath.c_str(), mode, _SH_DENYNO);
        if (file == nullptr) return "<no file>";
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
        std::fclose(file);
        return text;
    }
    void WriteAll(const std::string& windowsPath, const char* mode, const std::string& text) {
        FILE* file = _fsopen(windowsPath.c_str(), mode, _SH_DENYNO);
        ASSERT_NE(file, nullptr);
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }

    SimFolder sim;
};

TEST_F(PlatformFilesTest, TextModeReadsCrLfAsLfAndEndsAtCtrlZ) {
    WriteFileBytes(sim.root() / "t.txt", "a\r\nb\rc\r\n\r\nd\r\r\n\x1A" "after\r\n");
    EXPECT_EQ(ReadAll(Windows("t.txt"), "r"), "a\nb\rc\n\nd\r\n");
    EXPECT_EQ(ReadAll(Windows("t.txt"), "rt"), "a\nb\rc\n\nd\r\n");
    EXPECT_EQ(ReadAll(Windows("t.txt"), "rb"), "a\r\nb\rc\r\n\r\nd\r\r\n\x1A" "after\r\n");
    WriteFileBytes(sim.root() / "cr.txt", "x\r");
    EXPECT_EQ(ReadAll(Windows("cr.txt"), "r"), "x\r");
}

TEST_F(PlatformFilesTest, TextModeWritesLfAsCrLfAndAppendingKeepsWhatIsThere) {
    WriteAll(Windows("w.txt"), "w", "one\ntwo\n");
    EXPECT_EQ(ReadFileBytes(sim.root() / "w.txt"), "one\r\ntwo\r\n");
    WriteAll(Windows("w.txt"), "a", "three\n");
    EXPECT_EQ(ReadFileBytes(sim.root() / "w.txt"), "one\r\ntwo\r\nthree\r\n");
    WriteAll(Windows("w.txt"), "ab", "four\n");
    EXPECT_EQ(ReadFileBytes(sim.root() / "w.txt"), "one\r\ntwo\r\nthree\r\nfour\n");
    EXPECT_EQ(_fsopen(Windows("new\\made.txt").c_str(), "a", _SH_DENYNO), nullptr) << "no folder is created";
    EXPECT_FALSE(std::filesystem::exists(sim.root() / "new"));
}

TEST_F(PlatformFilesTest, OpensTranslateBackslashesAndIgnoreCaseLikeWindows) {
    WriteFileBytes(sim.root() / "Sub" / "Gear.WAV", "data");
    EXPECT_EQ(ReadAll(Windows("Sub\\Gear.WAV"), "rb"), "data");
    EXPECT_EQ(ReadAll(Windows("sub\\gear.wav"), "rb"), "data");
    EXPECT_EQ(ReadAll(Windows("SUB/GEAR.wav"), "rb"), "data");
    EXPECT_EQ(ReadAll(Windows("sub\\missing.wav"), "rb"), "<no file>");
    EXPECT_NE(GetFileAttributesA(Windows("sUB\\gEAR.wav").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PlatformFilesTest, FoldersLockedFilesAndBadModesDoNotOpen) {
    WriteFileBytes(sim.root() / "f.txt", "x");
    EXPECT_EQ(_fsopen(sim.root().c_str(), "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(_fsopen(Windows("f.txt").c_str(), "x", _SH_DENYNO), nullptr);
    EXPECT_EQ(_fsopen(nullptr, "r", _SH_DENYNO), nullptr);

    TwPlatformLockFile(Windows("f.txt").c_str(), TRUE);
    EXPECT_EQ(ReadAll(Windows("f.txt"), "r"), "<no file>");
    EXPECT_EQ(ReadAll((sim.root() / "f.txt").string(), "r"), "<no file>");
    TwPlatformLockFile(Windows("f.txt").c_str(), FALSE);
    EXPECT_EQ(ReadAll(Windows("f.txt"), "r"), "x");
}

TEST_F(PlatformFilesTest, OpenFilesAreCountedUntilClosed) {
    WriteFileBytes(sim.root() / "f.txt", "x");
    const int before = TwPlatformOpenFileCount();
    FILE* first = _fsopen(Windows("f.txt").c_str(), "r", _SH_DENYNO);
    FILE* second = _fsopen(Windows("f.txt").c_str(), "rb", _SH_DENYNO);
    EXPECT_EQ(TwPlatformOpenFileCount(), before + 2);
    std::fclose(first);
    std::fclose(second);
    EXPECT_EQ(TwPlatformOpenFileCount(), before);
}

TEST_F(PlatformFilesTest, FileAttributesAndFolderCreation) {
    WriteFileBytes(sim.root() / "f.txt", "x");
    EXPECT_EQ(GetFileAttributesA(Windows("missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(Windows("f.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(GetFileAttributesA(Windows("f.txt").c_str()), INVALID_FILE_ATTRIBUTES);

    EXPECT_TRUE(CreateDirectoryA(Windows("one").c_str(), nullptr));
    EXPECT_EQ(GetFileAttributesA(Windows("one").c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(CreateDirectoryA(Windows("one").c_str(), nullptr)) << "it exists";
    EXPECT_FALSE(CreateDirectoryA(Windows("two\\three").c_str(), nullptr)) << "only the last level is made";
    EXPECT_FALSE(std::filesystem::exists(sim.root() / "two"));
}

TEST_F(PlatformFilesTest, ModuleFileNameIsTheExecutableTheHostSet) {
    char buffer[MAX_PATH];
    TwPlatformSetExecutablePath("C:\\FS\\fs.exe");
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, MAX_PATH), 12u);
    EXPECT_STREQ(buffer, "C:\\FS\\fs.exe");

    // Too long: cut and terminated, and the buffer size comes back.
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 6), 6u);
    EXPECT_STREQ(buffer, "C:\\FS");
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 0), 0u);

    TwPlatformSetExecutablePath(nullptr);
    ASSERT_GT(GetModuleFileNameA(nullptr, buffer, MAX_PATH), 0u);
    EXPECT_TRUE(std::filesystem::exists(buffer)) << buffer;
}

}  // namespace
