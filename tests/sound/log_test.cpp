// The diagnostic log: the catalogue's exact lines, CR LF line breaks, and
// when the file is (never) created, appended to or emptied.
#include <gtest/gtest.h>

#include <control_files.h>

#include <cstdint>
#include <functional>

#include "config.h"
#include "log.h"
#include "sound_test_support.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSoundModule(); }
    void TearDown() override { ResetSoundModule(); }

    // Logging on: logfile.txt exists (with `content`) when the paths are set up.
    void SetUpWithLogFile(const std::string& content = "") {
        sim.Write("logfile.txt", content);
        SetUpFiles();
        ASSERT_TRUE(logEnabled);
    }
    std::string LogBytes() const { return ReadFileBytes(sim.sound() / "logfile.txt"); }

    SimFolder sim;
};

struct MessageCase {
    const char* name;
    std::function<void()> write;
    const char* expected;  // the bytes the message adds to the file
};

// Expected lines written out in full, independent of the module's table.
const MessageCase kMessages[] = {
    {"2", [] { LogMessage(2); },
     "--------------------------------------\r\nInitialising DirectSound.... succeeded.\r\n\r\n"},
    {"3", [] { LogMessage(3); },
     "--------------------------------------\r\nInitialising DirectSound.... FAILED.\r\n\r\n"},
    {"4 stop", [] { LogPlayCommand(4, "C:\\FS\\a.wav", 0); },
     "Playing ... C:\\FS\\a.wav.\r\nPlay command is... Stop.\r\n\r\n"},
    {"4 play once", [] { LogPlayCommand(4, "x.wav", 1); }, "Playing ... x.wav.\r\nPlay command is... PlayOnce.\r\n\r\n"},
    {"4 play looped", [] { LogPlayCommand(4, "x.wav", 2); },
     "Playing ... x.wav.\r\nPlay command is... PlayLooped.\r\n\r\n"},
    {"4 other code", [] { LogPlayCommand(4, "x.wav", 5); }, "Playing ... x.wav.\r\n.\r\n\r\n"},
    {"5", [] { LogText(5, "D:\\snd\\gear.wav"); },
     "Wavefile D:\\snd\\gear.wav .... NOT FOUND.\r\nPlay command aborted.\r\n\r\n"},
    {"6", [] { LogText(6, "D:\\snd\\gear.wav"); }, "Wavefile D:\\snd\\gear.wav .... found.\r\n\r\n"},
    {"7", [] { LogMessage(7); }, "Load wavfile call initiated.\r\n\r\n"},
    {"14", [] { LogNumber(14, 7); }, "Play once call initiated.\r\nUsing buffer number 7.\r\n\r\n"},
    {"15", [] { LogNumber(15, 99); }, "Play looping call initiated.\r\nUsing buffer number 99.\r\n\r\n"},
    {"16", [] { LogMessage(16); }, "All sounds stopped, sound silenced.\r\n\r\n"},
    {"17", [] { LogMessage(17); }, "All (still open) sounds stopped, sound continued after unmute.\r\n\r\n"},
    {"20", [] { LogMessage(20); }, "Entering InitDirectSound().\r\n\r\n"},
    {"21", [] { LogMessage(21); }, "DirectSoundCreate.... succeeded.\r\n\r\n"},
    {"22", [] { LogMessage(22); },
     "\r\nLooking for FS main window.... FAILED.\r\nInitialise DirectSound aborted.\r\n"
     "(Possibly because it already exists).\r\n\r\n"},
    {"23", [] { LogMessage(23); },
     "Looking for FS main window.... succeeded.\r\nSetting DirectSound co-operation level to Priority.\r\n\r\n"},
    {"24", [] { LogMessage(24); },
     "Creating primary DirectSound buffer.... FAILED.\r\n(Possibly because it already exists).\r\n\r\n"},
    {"25", [] { LogMessage(25); }, "Creating primary DirectSound buffer.... succeeded.\r\n\r\n"},
    {"28", [] { LogMessage(28); }, "Entering FreeDirectSound().\r\n\r\n"},
    {"29", [] { LogMessage(29); },
     "\r\n------\r\nFS shutdown or change of flight detected.\r\nDirectSound released.\r\n------\r\n\r\n"},
    {"30", [] { LogMessage(30); }, "Entering CreateStaticBuffer().\r\n\r\n"},
    {"31", [] { LogMessage(31); }, "Loading wavfile.... FAILED.\r\n\r\n"},
    {"32 slot", [] { LogNumber(32, 0); }, "Loading wavfile.... succeeded.\r\nUsing sound buffer 0.\r\n\r\n"},
    {"32 path", [] { LogText(32, "a\\b.wav"); }, "Loading wavfile.... succeeded.\r\nUsing sound buffer a\\b.wav.\r\n\r\n"},
    {"33", [] { LogMessage(33); },
     "Creating secondary DirectSound buffer.... FAILED.\r\nPlay command aborted.\r\n\r\n"},
    {"34", [] { LogMessage(34); }, "Creating secondary DirectSound buffer.... succeeded.\r\n\r\n"},
    {"35", [] { LogNumber(35, 44100); }, "44100 bytes allocated to the buffer.\r\n\r\n"},
    {"36", [] { LogMessage(36); }, "Entering FillBuffer().\r\n\r\n"},
    {"37", [] { LogMessage(37); }, "OUT OF MEMORY!!!\r\nPlay command aborted.\r\n\r\n"},
    {"38", [] { LogMessage(38); }, "Fill wavfile buffer.... FAILED.\r\nPlay command aborted.\r\n\r\n"},
    {"39", [] { LogMessage(39); }, "Fill wavfile buffer.... succeeded.\r\n\r\n"},
    {"40", [] { LogMessage(40); }, "Buffer lock.... FAILED.\r\nPlay command aborted.\r\n\r\n"},
    {"41", [] { LogMessage(41); }, "Buffer lock.... succeeded.\r\n\r\n"},
    {"42", [] { LogMessage(42); }, "Memory to buffer copy.... succeeded.\r\n\r\n"},
    {"43", [] { LogMessage(43); }, "Buffer unlock.... succeeded.\r\n\r\n"},
    {"44", [] { LogMessage(44); }, "Wavfile buffer delete.... succeeded.\r\n\r\n"},
    {"45", [] { LogMessage(45); }, "Entering LoadWaveFile().\r\n\r\n"},
    {"52", [] { LogMessage(52); }, "Entering PlayBuffer().\r\n\r\n"},
    {"53", [] { LogMessage(53); }, "Play failed.\r\nPlay buffer was empty.\r\n\r\n"},
    {"54", [] { LogMessage(54); }, "Play buffer was lost.\r\nRestoring buffer.\r\n\r\n"},
    {"55", [] { LogMessage(55); }, "Play succeeded.\r\n\r\n"},
    {"56", [] { LogMessage(56); }, "Entering StopBuffer().\r\n\r\n"},
    {"57", [] { LogMessage(57); }, "Play looping stop.... failed.\r\n\r\n"},
    {"58", [] { LogMessage(58); }, "Play looping stop.... succeeded.\r\n\r\n"},
    {"59", [] { LogMessage(59); }, "Entering RestoreBuffers().\r\n\r\n"},
    {"60", [] { LogTwoNumbers(60, 3, -2500); }, "Setting volume:\r\nBuffer 3 set to -2500.\r\n\r\n"},
    {"61", [] { LogTwoNumbers(61, 0, -10000); }, "Reading volume:\r\nBuffer 0.\r\n\r\n"},
    {"62", [] { LogTwoNumbers(62, 12, 10000); }, "Setting panorama:\r\nBuffer 12 set to 10000.\r\n\r\n"},
    {"63", [] { LogTwoNumbers(63, 5, -1); }, "Reading panorama:\r\nBuffer 5.\r\n\r\n"},
    {"64", [] { LogNumber(64, 42); }, "Restoring buffer 42.\r\n\r\n"},
    // Numbers the catalogue has no lines for write only the empty line.
    {"unknown 0", [] { LogMessage(0); }, "\r\n"},
    {"unknown 1", [] { LogText(1, "text"); }, "\r\n"},
    {"unknown 8", [] { LogMessage(8); }, "\r\n"},
    {"unknown 46", [] { LogNumber(46, 3); }, "\r\n"},
    {"unknown 65", [] { LogMessage(65); }, "\r\n"},
    {"unknown -4", [] { LogMessage(-4); }, "\r\n"},
    // Inserted texts are written as they are: no format directives, no limit.
    {"percent in path", [] { LogText(6, "C:\\100%\\%s%d%n.wav"); }, "Wavefile C:\\100%\\%s%d%n.wav .... found.\r\n\r\n"},
    {"negative number", [] { LogNumber(35, INT32_MIN); }, "-2147483648 bytes allocated to the buffer.\r\n\r\n"},
};

TEST_F(LogTest, EveryCatalogueMessageWritesItsExactLinesThenAnEmptyLine) {
    SetUpWithLogFile();
    std::string expectedSoFar;
    for (const MessageCase& message : kMessages) {
        SCOPED_TRACE(message.name);
        message.write();
        expectedSoFar += message.expected;
        // Each message is in the file when its call returns.
        ASSERT_EQ(LogBytes(), expectedSoFar);
    }
}

TEST_F(LogTest, ALongInsertedTextIsWrittenWhole) {
    SetUpWithLogFile();
    const std::string longPath = "C:\\" + std::string(300, 'w') + "\\%s.wav";
    LogText(5, longPath);
    LogPlayCommand(4, longPath, 1);
    EXPECT_EQ(LogBytes(), "Wavefile " + longPath + " .... NOT FOUND.\r\nPlay command aborted.\r\n\r\n" + "Playing ... " +
                              longPath + ".\r\nPlay command is... PlayOnce.\r\n\r\n");
}

TEST_F(LogTest, AnExistingLogIsAppendedToAndNeverEmptied) {
    SetUpWithLogFile("earlier run\r\n");
    EXPECT_EQ(LogBytes(), "earlier run\r\n") << "setting up must not touch the file";
    LogMessage(20);
    LogMessage(21);
    EXPECT_EQ(LogBytes(), "earlier run\r\nEntering InitDirectSound().\r\n\r\nDirectSoundCreate.... succeeded.\r\n\r\n");
}

TEST_F(LogTest, TheSetUpTestOpeningIsClosedByTheFirstMessageAndNoFileStaysOpen) {
    SetUpWithLogFile();
    EXPECT_EQ(TwPlatformOpenFileCount(), 1);
    LogMessage(7);
    EXPECT_EQ(logFile, nullptr);
    EXPECT_EQ(TwPlatformOpenFileCount(), 0);
    LogMessage(7);
    EXPECT_EQ(TwPlatformOpenFileCount(), 0);
}

TEST_F(LogTest, NoLogFileAtSetUpMeansNothingIsEverWrittenOrCreated) {
    SetUpFiles();
    EXPECT_FALSE(logEnabled);
    LogMessage(2);
    LogText(6, "x.wav");
    EXPECT_FALSE(std::filesystem::exists(sim.sound() / "logfile.txt"));

    // Creating the file later changes nothing until the module loads again.
    sim.Write("logfile.txt", "");
    LogMessage(2);
    EXPECT_EQ(LogBytes(), "");
}

TEST_F(LogTest, MessagesBeforeSetUpAreNotWritten) {
    sim.Write("logfile.txt", "");
    LogMessage(2);
    EXPECT_EQ(LogBytes(), "");
}

TEST_F(LogTest, AMessageThatCannotBeAppendedIsDroppedAndLaterOnesStillArrive) {
    SetUpWithLogFile();
    const std::string path = logPath;
    TwPlatformLockFile(path.c_str(), TRUE);
    LogMessage(20);
    TwPlatformLockFile(path.c_str(), FALSE);
    LogMessage(21);
    EXPECT_EQ(LogBytes(), "DirectSoundCreate.... succeeded.\r\n\r\n");

    // The folder gone: dropped. A file merely deleted: created again.
    std::filesystem::remove_all(sim.sound());
    LogMessage(7);
    std::filesystem::create_directories(sim.sound());
    LogMessage(16);
    EXPECT_EQ(LogBytes(), "All sounds stopped, sound silenced.\r\n\r\n");
    EXPECT_EQ(TwPlatformOpenFileCount(), 0);
}

}  // namespace
