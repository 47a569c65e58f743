// Still-frame items built from a table of script variables: below a node,
// the child "sf" holds one child per key (a column), whose cells are the
// rows; the cells of the column "name" are named nodes whose names are the
// rows' keys. Each row describes one item: image and texture window, mask,
// colour, place, layer, handlers, post effect, particle, parent, scrolling,
// a localised text companion ("<item>_text") and fades.
#pragma once

#include <cstdint>

class ScriptVariable;
class StillFrameData;

// Builds (itemName null or not found) or updates (the item of that name)
// one item from row `row` (from 1) of the node's "sf" table. A failing row
// is logged and answers false; what it set before the failure stays, and so
// does an item it created. rebuildText false keeps an existing text
// companion's text, place, colour and copied properties.
bool buildStillFrameFromVariable(StillFrameData& data, ScriptVariable& node, const char* itemName, std::int32_t row,
                                 bool rebuildText);
