#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "config/InstanceLock.h"
#include "tests/helpers/TempHome.h"

extern char** environ;

TEST(InstanceLock, LivesInTheRuntimeFolderElseInTmpPerUser)
{
    TempHome home;
    EXPECT_EQ(InstanceLock::LockPath(), (home.Root() / "runtime/rastrix@corvane.lock").string());
    std::string fallback = "/tmp/rastrix@corvane-" + std::to_string(getuid()) + ".lock";
    setenv("XDG_RUNTIME_DIR", (home.Root() / "missing").c_str(), 1);
    EXPECT_EQ(InstanceLock::LockPath(), fallback);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceLock::LockPath(), fallback);
}

TEST(InstanceLock, OnlyOneHolderAtATimeAndTheLockEndsWithItsHolder)
{
    TempHome home;
    std::string error;
    {
        InstanceLock first;
        ASSERT_TRUE(first.TryAcquire(error)) << error;
        EXPECT_TRUE(first.TryAcquire(error));  // taking it again is harmless

        InstanceLock second;
        EXPECT_FALSE(second.TryAcquire(error));
        EXPECT_TRUE(error.empty()) << error;  // held elsewhere: not an error of its own
        EXPECT_FALSE(second.Held());
    }
    InstanceLock after;
    EXPECT_TRUE(after.TryAcquire(error)) << error;
}

TEST(InstanceLock, ALockOfAnotherNameNeitherBlocksNorIsBlocked)
{
    TempHome home;
    std::string error;
    InstanceLock programs;
    ASSERT_TRUE(programs.TryAcquire(error)) << error;
    InstanceLock other("other-tool");
    EXPECT_EQ(InstanceLock::LockPath("other-tool"), (home.Root() / "runtime/other-tool.lock").string());
    ASSERT_TRUE(other.TryAcquire(error)) << error;
    InstanceLock other_again("other-tool");
    EXPECT_FALSE(other_again.TryAcquire(error));
}

TEST(InstanceLock, AChildProcessDoesNotKeepTheLockAlive)
{
    TempHome home;
    std::string error;
    pid_t child = -1;
    {
        InstanceLock holder;
        ASSERT_TRUE(holder.TryAcquire(error)) << error;
        char sleep_path[] = "/bin/sleep";
        char seconds[] = "30";
        char* argv[] = {sleep_path, seconds, nullptr};
        ASSERT_EQ(posix_spawn(&child, sleep_path, nullptr, nullptr, argv, environ), 0);
    }
    InstanceLock next;
    EXPECT_TRUE(next.TryAcquire(error)) << "the child still holds the lock " << error;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST(InstanceLock, AnUnusableLockFileIsReported)
{
    TempHome home;
    // A folder where the lock file should be: it cannot be opened for writing.
    std::filesystem::create_directories(home.Root() / "runtime/rastrix@corvane.lock");
    InstanceLock lock;
    std::string error;
    EXPECT_FALSE(lock.TryAcquire(error));
    EXPECT_NE(error.find("rastrix@corvane.lock"), std::string::npos) << error;
}
