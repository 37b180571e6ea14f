// AVI clips as moving textures (see avi.h).
#include "resources/avi.h"

void AviStream::open(const char* streamPath) { path = streamPath; }

void AviStream::copyFrame(std::int32_t, void*, std::int32_t) {}

void releaseAviStreams() {}

int aviStreamCount() { return 0; }

float aviSwingFactor(std::uint32_t frameCount) { return static_cast<float>(frameCount) * AVI_SWING_RATE; }

bool beatSwingAdvance(BeatSwing&, std::int32_t, float) { return false; }

std::int32_t beatSwingFrame(const BeatSwing&, float, std::uint32_t, float) { return 0; }
