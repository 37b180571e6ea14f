// Video clips on FFmpeg (see video.h for the contract).
#include "platform/video.h"

VideoStream* videoOpenStream(const char*) { return nullptr; }

HRESULT videoStreamInfo(VideoStream*, AVISTREAMINFOA*, LONG) { return E_FAIL; }

VideoFrameReader* videoFrameReaderOpen(VideoStream*) { return nullptr; }

const BYTE* videoGetFrame(VideoFrameReader*, LONG) { return nullptr; }

std::uint64_t videoDecodedFrameCount(const VideoFrameReader*) { return 0; }

void videoReleaseStream(VideoStream*) {}
