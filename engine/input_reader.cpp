#include "engine/input_reader.h"

#include <cerrno>
#include <thread>

#include "engine/io.h"

namespace kestrova {

bool EndWatch::Feed(std::string_view bytes) {
  bool seen = false;
  for (const char c : bytes) {
    if (c == '\r' || c == '\n') {
      const size_t end = line_.find_last_not_of(" \t");
      const std::string_view trimmed(line_.data(), end == std::string::npos ? 0 : end + 1);
      seen = seen || trimmed.substr(0, trimmed.find(' ')) == "END";
      line_.clear();
    } else if (line_.size() < 8) {
      line_.push_back(c);  // "END" and a blank or two is all the test needs
    }
  }
  return seen;
}

std::shared_ptr<InputReader> InputReader::Start(int fd, std::atomic<bool>& stop) {
  auto reader = std::make_shared<InputReader>();
  // The thread holds the reader too: nothing it uses goes away while it blocks in a read.
  std::thread([reader, fd, &stop] { reader->Run(fd, stop); }).detach();
  return reader;
}

void InputReader::Run(int fd, std::atomic<bool>& stop) {
  EndWatch watch;
  char buffer[1024];
  for (;;) {
    const long n = ReadSome(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      // End of input, or a failed read: nobody is left to answer, so no search is worth
      // finishing.
      stop.store(true);
      ended_ = true;
      ready_.notify_one();
      return;
    }
    const std::string_view bytes(buffer, size_t(n));
    if (watch.Feed(bytes)) stop.store(true);
    chunks_.emplace_back(bytes);
    ready_.notify_one();
  }
}

bool InputReader::Next(std::string& bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait(lock, [this] { return !chunks_.empty() || ended_; });
  if (chunks_.empty()) return false;
  bytes = std::move(chunks_.front());
  chunks_.pop_front();
  return true;
}

}  // namespace kestrova
