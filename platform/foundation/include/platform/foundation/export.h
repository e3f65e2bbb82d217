#pragma once

#define FOUNDATION_EXPORT __attribute__((visibility("default")))
