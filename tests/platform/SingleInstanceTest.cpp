// The single-instance lock, held by another process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/SingleInstance.h"
#include "support/TestSupport.h"

namespace {

// The lock's result in a child process (so the lock dies with it).
platform::InstanceResult resultInChild(const char* name) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(static_cast<int>(platform::acquireSingleInstance(name)));
    int status = 0;
    ::waitpid(pid, &status, 0);
    return static_cast<platform::InstanceResult>(WEXITSTATUS(status));
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstEnds) {
    testing_support::TempDir dir;
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(resultInChild("test instance"), platform::InstanceResult::Acquired);  // child's lock is gone
    ASSERT_EQ(platform::acquireSingleInstance("test instance"), platform::InstanceResult::Acquired);
    EXPECT_EQ(platform::acquireSingleInstance("test instance"), platform::InstanceResult::Acquired);
    EXPECT_EQ(resultInChild("test instance"), platform::InstanceResult::AlreadyRunning);
    EXPECT_TRUE(testing_support::exists(dir.file("test instance.lock")));
    ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
