#include "search/threads.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace kestrova {
namespace {

// The helpers' share of the counts goes to the search's own, where the speed figures read them.
void CollectCounts(Search& search) {
  for (auto& helper : search.helpers) {
    search.scanner.scans += helper->scanner.scans;
    search.probes += helper->probes;
    search.probeProofs += helper->probeProofs;
    helper->scanner.scans = 0;
    helper->probes = helper->probeProofs = 0;
  }
}

}  // namespace

int64_t IterateFromBudget(Search& search, Worker& worker, std::atomic<int64_t>& budget) {
  // A few at a time: taking one each iteration would make every thread write the budget's
  // cache line on every iteration. What a thread has taken it makes, so the threads together
  // make exactly the budget.
  constexpr int64_t kChunk = 16;
  int64_t made = 0;
  while (!Load(search.storeFull)) {
    int64_t taken =
        std::clamp<int64_t>(budget.fetch_sub(kChunk, std::memory_order_relaxed), 0, kChunk);
    if (taken == 0) break;
    for (; taken > 0 && !Load(search.storeFull); --taken, ++made) IterateOnce(search, worker);
  }
  return made;
}

void IterateOnce(Search& search, Worker& worker) {
  // Another thread holds a node this descent needs only while it expands or evaluates it.
  while (!Iterate(search, worker, search.rootIndex)) std::this_thread::yield();
  // Often enough that the other threads' choices near the root stay nearly as well informed
  // as this thread's own; seldom enough that the lines there mostly stay in every cache.
  constexpr int kPublishEvery = 256;
  if (search.sharedTree && (++worker.sincePublished >= kPublishEvery || worker.local.full()))
    PublishLocal(search, worker);
}

int64_t SearchWithHelpers(Search& search, std::atomic<int64_t>* budget,
                          const std::function<int64_t()>& ownLoop) {
  const int helpers = std::clamp(search.threads - 1, 0, int(search.helpers.size()));
  if (helpers == 0) return ownLoop();
  search.sharedTree = true;
  std::atomic<bool> stop{false};
  std::vector<int64_t> done(size_t(helpers), 0);
  std::vector<std::thread> running;
  running.reserve(size_t(helpers));
  for (int k = 0; k < helpers; ++k)
    running.emplace_back([&search, &stop, &done, budget, k] {
      Worker& worker = *search.helpers[size_t(k)];
      int64_t n = 0;
      if (budget != nullptr)
        n = IterateFromBudget(search, worker, *budget);
      else
        for (; !stop.load(std::memory_order_relaxed); ++n) IterateOnce(search, worker);
      PublishLocal(search, worker);
      done[size_t(k)] = n;
    });
  int64_t iterations = ownLoop();
  PublishLocal(search, search);
  stop.store(true, std::memory_order_relaxed);
  for (std::thread& t : running) t.join();
  search.sharedTree = false;
  for (const int64_t n : done) iterations += n;
  CollectCounts(search);
  return iterations;
}

}  // namespace kestrova
