// Renderers print by name in test names and failure messages ("es", not
// the enum's bytes).
#pragma once

#include "platform/renderer.h"

#include <ostream>

inline void PrintTo(Renderer renderer, std::ostream* out) { *out << rendererName(renderer); }
