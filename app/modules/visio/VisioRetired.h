#pragma once
// Senders of a Visio converter that went while the converter still ran: the tag is kept (so its
// address is not reused by a later sender the converter would reach), and with it whatever the
// caller hands over, until the converter's end notification for that tag.

#include <memory>

void keepUntilVisioEnd(std::shared_ptr<const char> tag, std::shared_ptr<void> keepAlive = nullptr);
