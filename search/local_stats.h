// A search thread's own additions to the statistics of the busiest nodes near the root, held
// back and published a batch at a time.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kestrova {

// Every thread reads the children of the nodes near the root on every descent; if each
// descent also wrote them, every read would wait for the line to come back from the core
// that wrote it last, which costs as much as the rest of the iteration.
class LocalStats {
 public:
  struct Entry {
    int32_t node = -1;
    int32_t visits = 0;
    double total = 0;
  };

  void Add(int32_t node, int32_t visits, double total) {
    Entry& e = Slot(node);
    if (e.node < 0) {
      e.node = node;
      used_.push_back(int16_t(&e - table_.data()));
    }
    e.visits += visits;
    e.total += total;
  }
  // The entry of node, or nullptr when this thread holds nothing back for it.
  const Entry* Find(int32_t node) const {
    for (uint32_t k = Hash(node);; k = (k + 1) & kMask) {
      const Entry& e = table_[k];
      if (e.node == node) return &e;
      if (e.node < 0) return nullptr;
    }
  }
  bool empty() const { return used_.empty(); }
  // Past this the probes grow long: time to publish. Nothing new is held back then, so the
  // table never fills and a probe always ends.
  bool full() const { return used_.size() >= kSlots / 2; }
  // Hands each entry to publish and empties the table.
  template <class F>
  void Drain(F&& publish) {
    for (const int16_t k : used_) {
      publish(table_[size_t(k)]);
      table_[size_t(k)] = Entry{};
    }
    used_.clear();
  }

 private:
  static constexpr uint32_t kSlots = 512;
  static constexpr uint32_t kMask = kSlots - 1;
  static uint32_t Hash(int32_t node) { return (uint32_t(node) * 2654435761u) >> 23; }
  Entry& Slot(int32_t node) {
    uint32_t k = Hash(node);
    while (table_[k].node >= 0 && table_[k].node != node) k = (k + 1) & kMask;
    return table_[k];
  }
  std::array<Entry, kSlots> table_{};
  std::vector<int16_t> used_;
};

}  // namespace kestrova
