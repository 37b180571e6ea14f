// The recording device (placeholder bodies; the logging device follows).
#include "platform/recording_device.h"

namespace {
RecordingConfig config{};
std::vector<std::string> logLines;
RecordingUserDraw lastDraw{};
}

void recordingInstall() {}
void recordingReset() {}
IDirect3D8* recordingDirect3DCreate8(UINT) { return nullptr; }
RecordingConfig& recordingConfig() { return config; }
void recordingSetLogging(bool) {}
const std::vector<std::string>& recordingLog() { return logLines; }
void recordingClearLog() {}
std::vector<std::string> recordingLogLines(const char*) { return {}; }
int recordingCallCount(const char*) { return 0; }
std::string recordingLogText() { return {}; }
void recordingFailCall(const char*, HRESULT, int) {}
void recordingClearFailures() {}
void recordingSetCooperativeLevel(HRESULT) {}
int recordingLiveObjects() { return 0; }
std::string recordingLabel(const void*) { return "?"; }
DWORD recordingRenderState(D3DRENDERSTATETYPE) { return 0; }
DWORD recordingTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE) { return 0; }
D3DMATRIX recordingTransform(D3DTRANSFORMSTATETYPE) { return D3DMATRIX{}; }
IDirect3DTexture8* recordingBoundTexture(DWORD) { return nullptr; }
D3DLIGHT8 recordingLight(DWORD) { return D3DLIGHT8{}; }
bool recordingLightEnabled(DWORD) { return false; }
D3DMATERIAL8 recordingMaterial() { return D3DMATERIAL8{}; }
DWORD recordingVertexShader() { return 0; }
IDirect3DVertexBuffer8* recordingStreamSource(UINT*) { return nullptr; }
IDirect3DIndexBuffer8* recordingIndices(UINT*) { return nullptr; }
IDirect3DSurface8* recordingColorTarget() { return nullptr; }
IDirect3DSurface8* recordingDepthTarget() { return nullptr; }
bool recordingTextureInfo(IDirect3DTexture8*, RecordingTextureInfo*) { return false; }
BYTE* recordingBufferMemory(const void*, UINT*) { return nullptr; }
const RecordingUserDraw& recordingLastUserDraw() { return lastDraw; }
int recordingDrawCount() { return 0; }
long long recordingPrimitiveCount() { return 0; }
