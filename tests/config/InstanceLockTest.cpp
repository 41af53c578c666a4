#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "config/InstanceLock.h"
#include "tests/helpers/TempHome.h"

extern char** environ;

// A desktop session (with a runtime folder) and a cron job (without one) on the same
// books folder must exclude each other: the lock depends on the books folder alone.
TEST(InstanceLock, LivesInTheBooksFolderWhateverTheSessionEnvironment)
{
    TempHome home;
    const std::string books = (home.Root() / "books").string();
    EXPECT_EQ(InstanceLock::LockPath(books), books + "/rastrix@corvane.lock");
    EXPECT_EQ(InstanceLock::LockPath(books + "/"), books + "/rastrix@corvane.lock");

    std::string error;
    InstanceLock session;
    ASSERT_TRUE(session.TryAcquire(books, error)) << error;
    EXPECT_TRUE(std::filesystem::is_regular_file(books + "/rastrix@corvane.lock"));
    unsetenv("XDG_RUNTIME_DIR");
    InstanceLock cron;
    EXPECT_FALSE(cron.TryAcquire(books, error));
    EXPECT_TRUE(error.empty()) << error;
    // Another books folder is another set of job records.
    InstanceLock elsewhere;
    EXPECT_TRUE(elsewhere.TryAcquire((home.Root() / "other books").string(), error)) << error;
}

TEST(InstanceLock, OnlyOneHolderAtATimeAndTheLockEndsWithItsHolder)
{
    TempHome home;
    const std::string books = (home.Root() / "books").string();
    std::string error;
    {
        InstanceLock first;
        ASSERT_TRUE(first.TryAcquire(books, error)) << error;
        EXPECT_TRUE(first.TryAcquire(books, error));  // taking it again is harmless

        InstanceLock second;
        EXPECT_FALSE(second.TryAcquire(books, error));
        EXPECT_TRUE(error.empty()) << error;  // held elsewhere: not an error of its own
        EXPECT_FALSE(second.Held());
    }
    InstanceLock after;
    EXPECT_TRUE(after.TryAcquire(books, error)) << error;
}

TEST(InstanceLock, ALockOfAnotherNameNeitherBlocksNorIsBlocked)
{
    TempHome home;
    const std::string folder = (home.Root() / "books").string();
    std::string error;
    InstanceLock programs;
    ASSERT_TRUE(programs.TryAcquire(folder, error)) << error;
    InstanceLock other("other-tool");
    EXPECT_EQ(InstanceLock::LockPath(folder, "other-tool"), folder + "/other-tool.lock");
    ASSERT_TRUE(other.TryAcquire(folder, error)) << error;
    InstanceLock other_again("other-tool");
    EXPECT_FALSE(other_again.TryAcquire(folder, error));
}

TEST(InstanceLock, AChildProcessDoesNotKeepTheLockAlive)
{
    TempHome home;
    const std::string books = (home.Root() / "books").string();
    std::string error;
    pid_t child = -1;
    {
        InstanceLock holder;
        ASSERT_TRUE(holder.TryAcquire(books, error)) << error;
        char sleep_path[] = "/bin/sleep";
        char seconds[] = "30";
        char* argv[] = {sleep_path, seconds, nullptr};
        ASSERT_EQ(posix_spawn(&child, sleep_path, nullptr, nullptr, argv, environ), 0);
    }
    InstanceLock next;
    EXPECT_TRUE(next.TryAcquire(books, error)) << "the child still holds the lock " << error;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST(InstanceLock, AnUnusableLockFileIsReported)
{
    TempHome home;
    // A folder where the lock file should be: it cannot be opened for writing.
    std::filesystem::create_directories(home.Root() / "books/rastrix@corvane.lock");
    InstanceLock lock;
    std::string error;
    EXPECT_FALSE(lock.TryAcquire((home.Root() / "books").string(), error));
    EXPECT_NE(error.find("rastrix@corvane.lock"), std::string::npos) << error;
}
