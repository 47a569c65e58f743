// The render core's links to the built-in render targets (among its
// built-in texture links). They are attached (or released) by the render
// core's target allocation according to the video options, which also
// gives the targets their sizes.
#pragma once

#include "render/TextureLink.h"

struct RenderTargetLinks {
    void releaseAll();

    TextureLink& hdr1;        // depth of field: the second (vertical) blur
    TextureLink& hdr2;        // depth of field: the first (horizontal) blur
    TextureLink& hdr3;        // the copy of the finished back buffer
    TextureLink& hdr4;        // bloom: the intermediate blurs
    TextureLink& hdr5;        // bloom: the result shown on screen
    TextureLink& poissonDof;  // depth of field: the result shown on screen
    TextureLink& shadow1;
    TextureLink& shadow2;
    TextureLink& mirror;
    TextureLink& screenshot;
};
