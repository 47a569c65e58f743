#include "ui/StillFrameData.h"

StillFrameData::~StillFrameData() { releaseAll(); }

void StillFrameData::update(const CurrentTime&) {}

void StillFrameData::releaseAll() {}

bool UnicodeInputBox::onChar(char16_t) { return false; }
