#pragma once
// A texture environment that answers the tests' video options, installed
// for its lifetime: model code reads the details setting through it.

#include <cstdint>

#include "render/DXTextureHandler.h"
#include "render/VideoSetup.h"

namespace testing_support {

class ScopedDetails : public TextureEnvironment {
public:
    ScopedDetails() { setTextureEnvironment(this); }
    explicit ScopedDetails(std::int32_t level) : ScopedDetails() { setup.details = level; }
    ~ScopedDetails() override { setTextureEnvironment(nullptr); }
    ScopedDetails(const ScopedDetails&) = delete;
    ScopedDetails& operator=(const ScopedDetails&) = delete;
    const VideoSetup& videoSetup() override { return setup; }
    VideoSetup setup;
};

}  // namespace testing_support
