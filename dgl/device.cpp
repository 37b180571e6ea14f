// Device lifecycle and frame: loads the 3D API, chooses the display mode,
// creates the device with a 16-bit depth buffer, ends each frame, clears.
// Depends on: platform/d3d8.h, kernel/messages.h, imaging/texture_file.h.
#include "dgl/dgl_internal.h"

#include "imaging/texture_file.h"
#include "kernel/messages.h"

HMODULE dglLibraryModule = nullptr;
IDirect3D8* dglDirect3D = nullptr;
IDirect3DDevice8* dglDeviceObject = nullptr;
IDirect3DSurface8* dglBackBuffer = nullptr;
IDirect3DSurface8* dglDefaultDepth = nullptr;

namespace {

// Full screen: the mode of the requested size with the lowest format code,
// walking the list from its end. Ends the program when there is none.
D3DFORMAT chooseFullscreenFormat(int width, int height)
{
    UINT count = dglDirect3D->GetAdapterModeCount(D3DADAPTER_DEFAULT);
    if (count == 0)
        fatalExit("Can not retrieve the display adapter's number of available display modes.");
    bool found = false;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    for (int index = static_cast<int>(count) - 1; index >= 0; --index) {
        D3DDISPLAYMODE mode{};
        if (FAILED(dglDirect3D->EnumAdapterModes(D3DADAPTER_DEFAULT, static_cast<UINT>(index), &mode)))
            fatalExit("Can not correctly enumerate all of the display adapter's available display modes.");
        if (mode.Width != static_cast<UINT>(width) || mode.Height != static_cast<UINT>(height))
            continue;
        if (!found || static_cast<std::int32_t>(mode.Format) < static_cast<std::int32_t>(format)) {
            format = mode.Format;
            found = true;
        }
    }
    if (!found)
        fatalExit(formatMessage("The display adapter offers no suitable display mode for the requested resolution: %d*%d.",
                                width, height));
    return format;
}

DWORD behaviourFlags(DWORD devCaps)
{
    bool hardwareTransform = (devCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0;
    bool pureDevice = (devCaps & D3DDEVCAPS_PUREDEVICE) != 0;
    if (hardwareTransform && pureDevice)
        return D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE;
    if (hardwareTransform)
        return D3DCREATE_MIXED_VERTEXPROCESSING;
    return D3DCREATE_SOFTWARE_VERTEXPROCESSING;
}

} // namespace

void dglInit(HWND window, int width, int height, bool fullscreen)
{
    dglLibraryModule = d3dLoadLibrary("D3D8.dll");
    if (dglLibraryModule == nullptr)
        fatalExit("Can not load library 'D3D8.dll'. Is DirectX 8 installed?");
    Direct3DCreate8Function create = d3dGetProcAddress(dglLibraryModule, "Direct3DCreate8");
    if (create == nullptr)
        fatalExit("Can not import function 'Direct3DCreate8'.");
    dglDirect3D = create(D3D_SDK_VERSION);
    if (dglDirect3D == nullptr)
        fatalExit("Can not spawn a Direct3D object.");

    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = static_cast<UINT>(width);
    parameters.BackBufferHeight = static_cast<UINT>(height);
    parameters.hDeviceWindow = window;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    parameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    parameters.BackBufferCount = 0;

    if (!fullscreen) {
        D3DDISPLAYMODE desktop{};
        if (FAILED(dglDirect3D->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &desktop)))
            fatalExit("Can not retrieve the display adapter's current display mode.");
        parameters.BackBufferFormat = desktop.Format;
        parameters.Windowed = TRUE;
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    } else {
        parameters.BackBufferFormat = chooseFullscreenFormat(width, height);
        parameters.FullScreen_RefreshRateInHz = 0;
        parameters.FullScreen_PresentationInterval = D3DPRESENT_INTERVAL_ONE;
        parameters.SwapEffect = D3DSWAPEFFECT_FLIP;
        parameters.Windowed = FALSE;
    }

    D3DCAPS8 caps{};
    if (FAILED(dglDirect3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps)))
        fatalExit("Can not retrieve the display adapter's Direct3D HAL capabilities.");
    // The texture-file loader clamps requested sizes to what the device takes.
    if (caps.MaxTextureWidth > 0 && caps.MaxTextureHeight > 0)
        textureFileSetMaxSize(caps.MaxTextureWidth, caps.MaxTextureHeight);

    if (FAILED(dglDirect3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviourFlags(caps.DevCaps),
                                         &parameters, &dglDeviceObject))) {
        dglDeviceObject = nullptr;
        if (fullscreen)
            fatalExit(formatMessage("Can not create a Direct3D HAL device with a 16-bit depth buffer in the detected "
                                    "%d*%d display mode.",
                                    width, height));
        fatalExit("Can not create a Direct3D HAL device with a 16-bit depth buffer in the current display mode.");
    }
    if (FAILED(dglDeviceObject->GetRenderTarget(&dglBackBuffer))) {
        dglBackBuffer = nullptr;
        fatalExit("Can not retrieve the back buffer surface.");
    }
    if (FAILED(dglDeviceObject->GetDepthStencilSurface(&dglDefaultDepth))) {
        dglDefaultDepth = nullptr;
        fatalExit("Can not retrieve the default depth buffer.");
    }

    // Range-based linear vertex fog, fixed for the whole run.
    dglDeviceObject->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
    dglDeviceObject->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);

    dglResetState();
    dglDeviceObject->BeginScene();
}

void dglShutdown()
{
    if (dglDeviceObject != nullptr) {
        for (int stage = 0; stage < DGL_TEXTURE_STAGES; ++stage)
            if (dglState.textures[stage] != nullptr)
                dglUnbindTexture(stage);
        if (dglState.indexBuffer != nullptr)
            dglUnbindIndexBuffer();
        if (dglState.vertexBuffer != nullptr)
            dglUnbindVertexBuffer();
    }
    dglReleasePools();

    // Each pointer is cleared as it is released, so a second shutdown (an
    // exit path reached twice) releases nothing twice.
    if (dglBackBuffer != nullptr) {
        dglBackBuffer->Release();
        dglBackBuffer = nullptr;
    }
    if (dglDefaultDepth != nullptr) {
        dglDefaultDepth->Release();
        dglDefaultDepth = nullptr;
    }
    if (dglDeviceObject != nullptr) {
        dglDeviceObject->Release();
        dglDeviceObject = nullptr;
    }
    if (dglDirect3D != nullptr) {
        dglDirect3D->Release();
        dglDirect3D = nullptr;
    }
    if (dglLibraryModule != nullptr) {
        d3dFreeLibrary(dglLibraryModule);
        dglLibraryModule = nullptr;
    }
}

void dglSwapBuffers()
{
    dglDeviceObject->EndScene();
    // A lost device keeps producing frames (its presents fail); one that can
    // be reset has lost its resources, and nothing here recreates them.
    if (dglDeviceObject->TestCooperativeLevel() == D3DERR_DEVICENOTRESET)
        fatalExit("Direct3D device lost.");
    dglDeviceObject->Present(nullptr, nullptr, nullptr, nullptr);
    dglDeviceObject->BeginScene();
}

void dglClearColorBuffer(D3DCOLOR color) { dglDeviceObject->Clear(0, nullptr, D3DCLEAR_TARGET, color, 0.0f, 0); }

void dglClearDepthBuffer(float depth) { dglDeviceObject->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, depth, 0); }

IDirect3DDevice8* dglDevice() { return dglDeviceObject; }
IDirect3DSurface8* dglBackBufferSurface() { return dglBackBuffer; }
IDirect3DSurface8* dglDefaultDepthSurface() { return dglDefaultDepth; }

void dglForgetAll()
{
    dglLibraryModule = nullptr;
    dglDirect3D = nullptr;
    dglDeviceObject = nullptr;
    dglBackBuffer = nullptr;
    dglDefaultDepth = nullptr;
    dglState = DglState();
    for (auto& entry : dglTextures)
        entry = DglTextureEntry{nullptr, nullptr};
    dglTextureTotal = 0;
    for (auto& buffer : dglVertexBuffers)
        buffer = nullptr;
    dglVertexBufferTotal = 0;
    for (auto& buffer : dglIndexBuffers)
        buffer = nullptr;
    dglIndexBufferTotal = 0;
    for (auto& surface : dglDepthBuffers)
        surface = nullptr;
    dglDepthBufferTotal = 0;
}
