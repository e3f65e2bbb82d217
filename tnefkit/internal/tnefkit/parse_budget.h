#pragma once
// The memory budget of one parse: every object the decoders create for the model is
// charged with its size before it is made. Charges are never refunded, so the budget also
// bounds the decoding work. Once the total passes the limit the charge answers false, the
// decoder stops where it is and the parse ends as failed, keeping what was decoded.

#include <cstdint>
#include <cstddef>

namespace tnefkit {

// Bookkeeping of one heap allocation, added to each object charged.
inline constexpr std::uint64_t kAllocationOverhead = 16;

// What appending to `list` allocates: nothing while it has room, else the doubled buffer.
// Charged at each growth, a list costs about twice its final size, which is its peak while
// the elements move to the new buffer.
template <class List>
std::uint64_t appendCost(const List& list) {
  if (list.size() < list.capacity()) return 0;
  const std::uint64_t capacity = list.capacity() ? 2 * std::uint64_t(list.capacity()) : 1;
  return capacity * sizeof(typename List::value_type) + kAllocationOverhead;
}

class ParseBudget {
 public:
  explicit ParseBudget(std::uint64_t limit) : limit_(limit) {}

  // max(floor, 4 x the file size): a real container's model holds at most its small values
  // and objects (its data stays in the file); a hostile one makes objects many times the
  // size of the bytes that describe them.
  static std::uint64_t limitForFileSize(std::uint64_t fileSize);

  // Adds `bytes`; false (with one log line) once the total passes the limit.
  bool charge(std::uint64_t bytes);
  bool exhausted() const { return exhausted_; }
  std::uint64_t spent() const { return spent_; }
  std::uint64_t limit() const { return limit_; }

  // Makes `budget` the one charged by the decoders on this thread while it lives.
  class Scope {
   public:
    explicit Scope(ParseBudget& budget);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    ParseBudget* previous_;
  };

 private:
  std::uint64_t limit_;
  std::uint64_t spent_ = 0;
  bool exhausted_ = false;
};

// Charges the budget of the parse running on this thread; true when there is none.
bool chargeModel(std::uint64_t bytes);

// The floor of every later parse's limit (256 MiB); 0 restores it. Tests set a small one.
void setParseBudgetFloor(std::uint64_t bytes);

}  // namespace tnefkit
