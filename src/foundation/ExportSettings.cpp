#include "foundation/ExportSettings.h"

#include "foundation/IniFile.h"
#include "foundation/SettingsReader.h"

ExportSettings exportSettings;

void readExportSettings(IniFile& settings) {
    readSetting(settings.getCategory("export"), "jpg_quality", exportSettings.jpgQuality, 90, 1);
}
