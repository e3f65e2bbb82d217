#include "tnefkit/parse_budget.h"

#include <algorithm>
#include <atomic>

#include "tnefkit/tnef_log.h"

namespace tnefkit {
namespace {
constexpr std::uint64_t kDefaultFloor = std::uint64_t(256) << 20;
constexpr std::uint64_t kFileSizeMultiple = 4;

std::atomic<std::uint64_t> budgetFloor{kDefaultFloor};
thread_local ParseBudget* currentBudget = nullptr;
}  // namespace

void setParseBudgetFloor(std::uint64_t bytes) { budgetFloor = bytes ? bytes : kDefaultFloor; }

std::uint64_t ParseBudget::limitForFileSize(std::uint64_t fileSize) {
  const std::uint64_t scaled =
      fileSize > UINT64_MAX / kFileSizeMultiple ? UINT64_MAX : fileSize * kFileSizeMultiple;
  return std::max(budgetFloor.load(), scaled);
}

bool ParseBudget::charge(std::uint64_t bytes) {
  if (exhausted_) return false;
  spent_ = bytes > UINT64_MAX - spent_ ? UINT64_MAX : spent_ + bytes;
  if (spent_ <= limit_) return true;
  exhausted_ = true;
  logError(format("ERROR: decoded data passed the parse limit of %llu bytes, decoding stopped; input file may be "
                  "corrupted",
                  static_cast<unsigned long long>(limit_)));
  return false;
}

ParseBudget::Scope::Scope(ParseBudget& budget) : previous_(currentBudget) { currentBudget = &budget; }
ParseBudget::Scope::~Scope() { currentBudget = previous_; }

bool chargeModel(std::uint64_t bytes) { return currentBudget == nullptr || currentBudget->charge(bytes); }

}  // namespace tnefkit
