// The particle effect writer: a ".effect" file from a readable description.
// Tests, fuzz seeds, benchmarks and the demo write their effects with it.
//
// The file is laid out here from its byte offsets; only the material record
// inside each layer is written by the engine's own material writer.
//
// Description lines ("#" starts a comment; blank lines are skipped). Lines
// before the first "layer" set the effect; those after it the current layer.
// A <table> is one value (constant over time) or two (a straight ramp from
// the first at time 0 to the second at time 1).
//
// Effect:
//   name <text>                  sound <alias>          kind <0|1>
//   flags <u32>                  limit <points>         replace <method>
//   killbox <mode> <x0 y0 z0> <x1 y1 z1>                worldspace <0|1>
//   timescale <f>                renderkey <i>          detail <level>
//   scale <f>                    (base scale)
// Layer:
//   layer <name>                 starts a layer (defaults: period 1, loop,
//                                lifetime 1, size 1, colour 1 1 1 1, tint
//                                1 1 1 1, one row, one column)
//   period <seconds> [<jitter>]  loop <0|1>
//   rate <table>                 points a second (both emission curves)
//   curves <tableA> / <tableB>   the emission curves, raw ("/" between)
//   box <x0 y0 z0> <x1 y1 z1>    sphere <inner> <outer>
//   offset <x y z>               spread <x y z>
//   velocity <x y z> [<x y z>]   base velocity at emission time 0 (and 1)
//   speed <min> <max>            lifetime <min> <max>
//   sizescale <min> <max>        rotationscale <min> <max>
//   size <table>                 rotation <table>
//   color <r g b a> [<r g b a>]  over the point's age
//   stretch <table>              sets the stretch flag
//   drag <coefficient> <mode>    gravity <acceleration>
//   frames <rows> <columns>      frame rows and variant columns; cell sizes
//                                1 / rows and 1 / columns
//   framemode <mode> [<min speed> <max speed>]
//   angle <min> <max>            mirror <horizontal> <vertical>
//   blend <mode>                 texture <name>
//   material <additive|alpha>    the material's blending (default opaque)
//   tint <r g b a>               cameraoffset <distance>
//   parameters <a> <b> <c>
#pragma once

#include <string>
#include <string_view>

namespace particle_tools {

// The ".effect" bytes of a description; empty with the reason (naming the
// line) in error.
std::string effectFileBytes(std::string_view text, std::string& error);

}  // namespace particle_tools
