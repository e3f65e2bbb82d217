#pragma once

#define TNEFKIT_EXPORT __attribute__((visibility("default")))
