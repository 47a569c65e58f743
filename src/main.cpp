#include "app/CrashReport.h"
#include "app/GlobalObjects.h"

int main() {
    installCrashReporter();
    return engineMain();
}
