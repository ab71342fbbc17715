#include "log.h"

#include <share.h>

#include <cstdio>
#include <string>

bool logEnabled = false;
std::string logPath;
FILE* logFile = nullptr;

namespace {

// One message: its lines joined by "\n"; "{1}" and "{2}" stand for the first
// and second inserted text.
struct CatalogueEntry {
    int32_t number;
    const char* lines;
};

const CatalogueEntry kCatalogue[] = {
    {2, "--------------------------------------\nInitialising DirectSound.... succeeded."},
    {3, "--------------------------------------\nInitialising DirectSound.... FAILED."},
    {4, "Playing ... {1}.\n{2}."},
    {5, "Wavefile {1} .... NOT FOUND.\nPlay command aborted."},
    {6, "Wavefile {1} .... found."},
    {7, "Load wavfile call initiated."},
    {14, "Play once call initiated.\nUsing buffer number {1}."},
    {15, "Play looping call initiated.\nUsing buffer number {1}."},
    {16, "All sounds stopped, sound silenced."},
    {17, "All (still open) sounds stopped, sound continued after unmute."},
    {20, "Entering InitDirectSound()."},
    {21, "DirectSoundCreate.... succeeded."},
    {22, "\nLooking for FS main window.... FAILED.\nInitialise DirectSound aborted.\n(Possibly because it already exists)."},
    {23, "Looking for FS main window.... succeeded.\nSetting DirectSound co-operation level to Priority."},
    {24, "Creating primary DirectSound buffer.... FAILED.\n(Possibly because it already exists)."},
    {25, "Creating primary DirectSound buffer.... succeeded."},
    {28, "Entering FreeDirectSound()."},
    {29, "\n------\nFS shutdown or change of flight detected.\nDirectSound released.\n------"},
    {30, "Entering CreateStaticBuffer()."},
    {31, "Loading wavfile.... FAILED."},
    {32, "Loading wavfile.... succeeded.\nUsing sound buffer {1}."},
    {33, "Creating secondary DirectSound buffer.... FAILED.\nPlay command aborted."},
    {34, "Creating secondary DirectSound buffer.... succeeded."},
    {35, "{1} bytes allocated to the buffer."},
    {36, "Entering FillBuffer()."},
    {37, "OUT OF MEMORY!!!\nPlay command aborted."},
    {38, "Fill wavfile buffer.... FAILED.\nPlay command aborted."},
    {39, "Fill wavfile buffer.... succeeded."},
    {40, "Buffer lock.... FAILED.\nPlay command aborted."},
    {41, "Buffer lock.... succeeded."},
    {42, "Memory to buffer copy.... succeeded."},
    {43, "Buffer unlock.... succeeded."},
    {44, "Wavfile buffer delete.... succeeded."},
    {45, "Entering LoadWaveFile()."},
    {52, "Entering PlayBuffer()."},
    {53, "Play failed.\nPlay buffer was empty."},
    {54, "Play buffer was lost.\nRestoring buffer."},
    {55, "Play succeeded."},
    {56, "Entering StopBuffer()."},
    {57, "Play looping stop.... failed."},
    {58, "Play looping stop.... succeeded."},
    {59, "Entering RestoreBuffers()."},
    {60, "Setting volume:\nBuffer {1} set to {2}."},
    {61, "Reading volume:\nBuffer {1}."},
    {62, "Setting panorama:\nBuffer {1} set to {2}."},
    {63, "Reading panorama:\nBuffer {1}."},
    {64, "Restoring buffer {1}."},
};

}  // namespace

const char* LogCatalogueLines(int32_t number) {
    for (const CatalogueEntry& entry : kCatalogue) {
        if (entry.number == number) return entry.lines;
    }
    return nullptr;
}

// The whole message with its line breaks ("\n"; the text-mode file stores
// CR LF). Composed in a growing string: a long WAV path is written whole.
std::string ComposeLogMessage(int32_t number, const std::string& firstText, const std::string& secondText) {
    std::string message;
    if (const char* lines = LogCatalogueLines(number)) {
        for (const char* p = lines; *p != '\0'; ++p) {
            if (p[0] == '{' && (p[1] == '1' || p[1] == '2') && p[2] == '}') {
                message += p[1] == '1' ? firstText : secondText;
                p += 2;
            } else {
                message += *p;
            }
        }
        message += '\n';
    }
    message += '\n';  // every message is followed by an empty line
    return message;
}

void WriteLogMessage(int32_t number, const std::string& firstText, const std::string& secondText) {
    if (!logEnabled) return;
    // The set-up's test opening stays open until the first message.
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
    try {
        const std::string message = ComposeLogMessage(number, firstText, secondText);
        // Text mode: every line break is stored as CR LF. Appending never
        // truncates; a file deleted meanwhile is created again.
        FILE* file = _fsopen(logPath.c_str(), "a", _SH_DENYNO);
        if (file == nullptr) return;  // the message is dropped; the log reports on nothing but the module
        std::fwrite(message.data(), 1, message.size(), file);
        std::fclose(file);
    } catch (...) {
        // Out of memory while composing: the message is dropped, nothing
        // leaves the simulator's call.
    }
}

void LogMessage(int32_t number) { WriteLogMessage(number, std::string(), std::string()); }

void LogNumber(int32_t number, int32_t value) { WriteLogMessage(number, std::to_string(value), std::string()); }

void LogTwoNumbers(int32_t number, int32_t firstValue, int32_t secondValue) {
    WriteLogMessage(number, std::to_string(firstValue), std::to_string(secondValue));
}

void LogText(int32_t number, const std::string& text) { WriteLogMessage(number, text, std::string()); }

void LogPlayCommand(int32_t number, const std::string& text, int commandCode) {
    const char* command = "";
    switch (commandCode) {
        case 0: command = "Play command is... Stop"; break;
        case 1: command = "Play command is... PlayOnce"; break;
        case 2: command = "Play command is... PlayLooped"; break;
        default: break;
    }
    WriteLogMessage(number, text, command);
}
