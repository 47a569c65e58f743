#include "app/GlobalObjects.h"

int main() { return engineMain(); }
