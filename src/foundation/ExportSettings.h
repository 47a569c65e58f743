// Settings of the image export (section "export"), read once at start.
#pragma once

#include <cstdint>

class IniFile;

struct ExportSettings {
    // The JPEG quality (1 to 100) of an export that names none.
    std::int32_t jpgQuality = 90;
};
extern ExportSettings exportSettings;

// Reads section "export"; a missing key is added and keeps its default.
void readExportSettings(IniFile& settings);
