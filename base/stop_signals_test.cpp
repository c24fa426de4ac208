#include "base/stop_signals.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace qf {
namespace {

bool readable(int fd) {
  pollfd polled{fd, POLLIN, 0};
  return poll(&polled, 1, 0) == 1;
}

TEST(StopSignals, RemembersTheFirstSignalAndWakesWaiters) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    StopSignals signals;
    EXPECT_EQ(signals.caught(), 0);
    EXPECT_FALSE(readable(signals.descriptor()));
    raise(signal);
    raise(signal == SIGINT ? SIGTERM : SIGINT);
    EXPECT_EQ(signals.caught(), signal);
    EXPECT_TRUE(readable(signals.descriptor()));
  }
}

TEST(StopSignals, WaitReturnsTheSignalThatCame) {
  {
    StopSignals signals;
    raise(SIGHUP);
    EXPECT_EQ(signals.wait(), SIGHUP);
  }
  StopSignals signals;
  int seen = 0;
  std::thread waiter([&] { seen = signals.wait(); });
  raise(SIGTERM);
  waiter.join();
  EXPECT_EQ(seen, SIGTERM);
}

TEST(StopSignals, EndWithSignalEndsTheProcessByThatSignal) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      StopSignals signals;
      raise(signal);
      endWithSignal(signals.caught());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
  }
}

}  // namespace
}  // namespace qf
