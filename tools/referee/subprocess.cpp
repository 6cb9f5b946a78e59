#include "tools/referee/subprocess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace kestrova {

int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::vector<std::string> Subprocess::Shell(const std::string& commandLine) {
  return {"/bin/sh", "-c", "exec " + commandLine};
}

Subprocess::~Subprocess() {
  if (pid_ > 0 && !reaped_) {
    Kill();
  }
  if (in_ >= 0) close(in_);
  if (out_ >= 0) close(out_);
}

bool Subprocess::Start(const std::vector<std::string>& argv, std::string* error, bool quietStderr) {
  signal(SIGPIPE, SIG_IGN);  // a child that dies must not take us with it on the next write
  // Close-on-exec from the start: an engine started by another thread at the same moment
  // must not inherit these ends, or this engine's exit would never show as a closed pipe.
  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    if (error) *error = std::strerror(errno);
    close(toChild[0]);
    close(toChild[1]);
    return false;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    if (error) *error = std::strerror(errno);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    setpgid(0, 0);
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    if (quietStderr) {
      const int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 2);
    }
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
    signal(SIGPIPE, SIG_DFL);
    // The tool blocks Ctrl-C and SIGTERM to take them on a thread of its own; an engine must
    // not inherit that and become deaf to them.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  setpgid(pid, pid);
  close(toChild[0]);
  close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
  pid_ = pid;
  return true;
}

bool Subprocess::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (in_ < 0) return false;
    const ssize_t n = write(in_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(size_t(n));
  }
  return true;
}

void Subprocess::CloseStdin() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool Subprocess::FillBuffer(int64_t timeoutMs) {
  if (outClosed_) return false;
  pollfd p{out_, POLLIN, 0};
  const int ready = poll(&p, 1, int(std::max<int64_t>(0, timeoutMs)));
  if (ready <= 0) return false;
  char chunk[4096];
  const ssize_t n = read(out_, chunk, sizeof chunk);
  if (n <= 0) {
    if (n < 0 && errno == EINTR) return true;
    outClosed_ = true;
    return false;
  }
  buffer_.append(chunk, size_t(n));
  return true;
}

Subprocess::ReadStatus Subprocess::ReadLine(std::string& line, int64_t timeoutMs) {
  const int64_t deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    const size_t end = buffer_.find_first_of("\r\n");
    // A CR at the very end may be the first half of CR LF: wait a little for the LF.
    if (end != std::string::npos && !(buffer_[end] == '\r' && end + 1 == buffer_.size() &&
                                      !outClosed_ && MonotonicMs() < deadline)) {
      line = buffer_.substr(0, end);
      size_t skip = end + 1;
      if (buffer_[end] == '\r' && skip < buffer_.size() && buffer_[skip] == '\n') ++skip;
      buffer_.erase(0, skip);
      return ReadStatus::Line;
    }
    if (outClosed_) {
      if (!buffer_.empty()) {
        line.swap(buffer_);
        buffer_.clear();
        return ReadStatus::Line;
      }
      return ReadStatus::Closed;
    }
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return ReadStatus::Timeout;
    FillBuffer(left);
  }
}

std::string Subprocess::ReadAll(int64_t timeoutMs) {
  const int64_t deadline = MonotonicMs() + timeoutMs;
  while (!outClosed_) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) break;
    FillBuffer(left);
  }
  std::string all;
  all.swap(buffer_);
  return all;
}

bool Subprocess::Wait(int64_t timeoutMs, int* exitStatus) {
  if (pid_ <= 0) return false;
  const int64_t deadline = MonotonicMs() + timeoutMs;
  while (!reaped_) {
    const pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      break;
    }
    if (r < 0 && errno != EINTR) return false;
    if (MonotonicMs() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (exitStatus) *exitStatus = status_;
  return true;
}

bool Subprocess::Running() {
  return pid_ > 0 && !Wait(0);
}

void Subprocess::Kill() {
  if (pid_ <= 0 || reaped_) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  Wait(5000);
}

void Subprocess::KillGroup() {
  if (pid_ > 0) kill(-pid_, SIGKILL);
}

int64_t Subprocess::PeakResidentBytes() const {
  if (pid_ <= 0) return -1;
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      int64_t kb = 0;
      status >> kb;
      return kb * 1024;
    }
    std::getline(status, key);
  }
  return -1;
}

int64_t Subprocess::ResidentBytesWithChildren() const {
  if (pid_ <= 0 || reaped_) return -1;
  // Parent and process group of every process: the child's descendants are those whose
  // chain of parents leads to it, and any that left that chain but stayed in its group.
  std::map<pid_t, std::vector<pid_t>> children;
  std::vector<pid_t> tree;
  DIR* proc = opendir("/proc");
  if (!proc) return -1;
  while (const dirent* entry = readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat("/proc/" + name + "/stat");
    std::string text;
    if (!std::getline(stat, text)) continue;
    // Fields after the command name, which may hold spaces and parentheses.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(text.substr(close + 1));
    std::string state;
    pid_t parent = 0, group = 0;
    if (!(rest >> state >> parent >> group)) continue;
    const pid_t pid = pid_t(std::stol(name));
    if (pid == pid_) continue;
    if (group == pid_)
      tree.push_back(pid);
    else
      children[parent].push_back(pid);
  }
  closedir(proc);
  tree.push_back(pid_);
  for (size_t k = 0; k < tree.size(); ++k) {
    const auto it = children.find(tree[k]);
    if (it == children.end()) continue;
    tree.insert(tree.end(), it->second.begin(), it->second.end());
    children.erase(it);
  }
  static const int64_t pageBytes = sysconf(_SC_PAGESIZE);
  int64_t total = 0;
  for (pid_t pid : tree) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    int64_t size = 0, resident = 0;
    if (statm >> size >> resident) total += resident * pageBytes;
  }
  return total;
}

}  // namespace kestrova
