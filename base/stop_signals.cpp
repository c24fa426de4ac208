#include "base/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>

namespace qf {

namespace {

// A signal handler reaches only what is global; these are used by nothing
// else.
volatile std::sig_atomic_t caughtSignal = 0;
int pipeEnds[2] = {-1, -1};
// The signals that ask a program to stop, and their handlers from before.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[std::size(kStopSignals)];

extern "C" void rememberSignal(int signal) {
  const int savedErrno = errno;
  if (caughtSignal == 0) caughtSignal = signal;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(pipeEnds[1], &byte, 1);
  errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals() {
  caughtSignal = 0;
  if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) pipeEnds[0] = pipeEnds[1] = -1;
  struct sigaction action {};
  action.sa_handler = rememberSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking call is interrupted, and the loop looks again.
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &action, &previousActions[i]);
  }
}

StopSignals::~StopSignals() {
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], &previousActions[i], nullptr);
  }
  for (int& end : pipeEnds) {
    if (end >= 0) close(end);
    end = -1;
  }
}

int StopSignals::descriptor() const { return pipeEnds[0]; }

int StopSignals::caught() const { return caughtSignal; }

int StopSignals::wait() const {
  // Without a pipe, the signal is looked for every tenth of a second.
  pollfd polled{pipeEnds[0], POLLIN, 0};
  while (caughtSignal == 0) {
    const int ready = poll(&polled, 1, polled.fd < 0 ? 100 : -1);
    if (ready < 0 && errno != EINTR) return caughtSignal;
    if (ready > 0 && (polled.revents & POLLNVAL)) return caughtSignal;
  }
  return caughtSignal;
}

void endWithSignal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  std::_Exit(128 + signal);  // only when the signal could not end the process
}

}  // namespace qf
