// The records around a save file: the header the writer and the readers
// share, and one entry of the slot list that the save and load screens show.
//
// A save file is a complete JPEG image (the screenshot), the magic, the game
// time, the packed game data and a fixed footer (display name in UTF-16,
// its length, the footer tag, the magic, the image size and the magic once
// more), so the slot list reads only the footer of each file.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/Image.h"

// Stored values of the save file; fixed.
constexpr std::uint32_t kSaveFileMagic = 0x9A70DE33u;
constexpr std::uint32_t kSaveFooterTag = 0x1AE08570u;
// A valid save file has at least the image's magic and game time and the
// footer. (A floor of 1,024 bytes refused the small saves that a small
// screenshot setting makes.)
constexpr std::int64_t kSaveFileMinimumSize = 12 + 20;
// Bytes of the footer behind the display name.
constexpr std::int64_t kSaveFooterSize = 20;
// Longest display name read back (UTF-16 units, without the terminator).
constexpr std::uint32_t kSaveNameMaximum = 511;
// JPEG quality of the screenshot.
constexpr int kSaveScreenShotQuality = 60;

struct SaveHeader {
    std::uint32_t imageSize = 0;  // J, the length of the JPEG image
    TgaImage image;
    std::uint32_t magic = kSaveFileMagic;
    double gameTime = 0.0;
    std::u16string displayName;
};

struct SaveSlot {
    // Stores the file time and makes the date and time texts from its local
    // time.
    void setFileTime(std::uint64_t time);

    std::uint64_t fileTime = 0;  // 100 ns steps since 1601-01-01 UTC
    std::string path;            // full path of the file
    std::string name;            // file name without extension, lower-cased
    std::u16string date;         // e.g. "Wednesday 9 December 2026"
    std::u16string time;         // e.g. "21:05"
    SaveHeader header;
};

// The date and time texts of a local time given as a Windows file time.
// False (texts unchanged) when the time cannot be converted.
bool formatSaveSlotTime(std::uint64_t fileTime, std::u16string& date, std::u16string& time);
