#include "resources/LoadingProgress.h"

#include "platform/Time.h"

namespace {

LoadingProgress* installed = nullptr;

}  // namespace

LoadingProgress* loadingProgress() { return installed; }

void setLoadingProgress(LoadingProgress* progress) { installed = progress; }

void reportLoadingProgress(std::int32_t stage, float fraction) {
    if (installed) installed->setProgress(stage, fraction);
}

LoadingLockGuard::LoadingLockGuard() {
    if (!installed) return;
    lock_ = &installed->loadingLock();
    while (!lock_->try_lock()) platform::sleepMilliseconds(5);
}

LoadingLockGuard::~LoadingLockGuard() {
    if (lock_) lock_->unlock();
}
