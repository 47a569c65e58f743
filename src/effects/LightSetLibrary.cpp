#include "effects/LightSetLibrary.h"

#include "foundation/DataStream.h"

LightSetLibrary::~LightSetLibrary() { release(); }

std::int32_t LightSetLibrary::readResource(DataStream&, const char*, std::int32_t) { return -1; }

bool LightSetLibrary::compileFromSource(const char* sourcePath) {
    MemoryStream compiled;
    return saveCompiledStream(compiled, sourcePath);
}

bool LightSetLibrary::initialize() { return true; }

void LightSetLibrary::release() {}
