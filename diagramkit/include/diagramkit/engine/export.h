#pragma once

#ifndef DIAGRAMKIT_EXPORT
#define DIAGRAMKIT_EXPORT __attribute__((visibility("default")))
#endif
