#include "tools/signals/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace kestrova::tools {

StopSignals::StopSignals(Action onSignal) : onSignal_(std::move(onSignal)) {
  sigset_t watched;
  sigemptyset(&watched);
  for (int s : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (sigaction(s, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
      sigaddset(&watched, s);
  }
  pthread_sigmask(SIG_BLOCK, &watched, nullptr);
  signalFd_ = signalfd(-1, &watched, SFD_CLOEXEC);
  if (signalFd_ < 0 || pipe2(stopPipe_, O_CLOEXEC) != 0 || pipe2(closePipe_, O_CLOEXEC) != 0) {
    // Nobody would take them: Ctrl-C kills the command as if this were not here.
    pthread_sigmask(SIG_UNBLOCK, &watched, nullptr);
    return;
  }
  watcher_ = std::thread([this] { Watch(); });
}

StopSignals::~StopSignals() {
  if (watcher_.joinable()) {
    [[maybe_unused]] const ssize_t written = write(closePipe_[1], "x", 1);
    watcher_.join();
  }
  for (int fd : {signalFd_, stopPipe_[0], stopPipe_[1], closePipe_[0], closePipe_[1]})
    if (fd >= 0) close(fd);
}

const char* StopSignals::SignalName() const {
  return signal() == SIGINT ? "SIGINT" : signal() == SIGTERM ? "SIGTERM" : "";
}

void StopSignals::Watch() {
  for (;;) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {closePipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info{};
    if (read(signalFd_, &info, sizeof info) != ssize_t(sizeof info)) continue;
    int none = 0;
    signal_.compare_exchange_strong(none, int(info.ssi_signo));
    if (!stopped_.exchange(true)) {
      [[maybe_unused]] const ssize_t written = write(stopPipe_[1], "s", 1);
    }
    if (onSignal_) onSignal_(int(info.ssi_signo));
  }
}

}  // namespace kestrova::tools
