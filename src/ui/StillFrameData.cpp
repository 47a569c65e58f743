#include "ui/StillFrameData.h"

#include "foundation/Log.h"

StillFrameData::~StillFrameData() { releaseAll(); }

void StillFrameData::update(const CurrentTime&) {}

void StillFrameData::releaseAll() {}

// No item can be made yet, so none is ever found in the data.
void StillFrameData::deleteObject(StillFrameItem* item) {
    if (!item) engineLog().scriptError("stillframe:del(obj_image)  -> argument must be not NULL");
}

bool UnicodeInputBox::onChar(char16_t) { return false; }
