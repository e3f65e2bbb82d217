#pragma once
// Keeps a Visio converter's sender tag (so its address is not reused by a later sender the
// converter would reach), and with it whatever the caller hands over, until that converter's
// end notification. Called before the converter starts, it hears the end however soon the
// sender goes: a sender that is going can no longer hear anything itself.

#include <memory>

// One call per conversion; each end notification for `tag` lets one of them go.
void keepUntilVisioEnd(std::shared_ptr<const char> tag, std::shared_ptr<void> keepAlive = nullptr);
