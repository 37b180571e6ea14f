// Renderer tests run against the recording device: each test starts with a
// fresh device log and ends with the renderer shut down and forgotten.
#pragma once

#include "dgl/dgl.h"
#include "platform/recording/recording_device.h"
#include "tests/support/fatal.h"
#include "tests/support/renderer_print.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline HWND fakeWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1000)); }

class DglTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedImplementation = d3dImplementation();
        recordingInstall();
    }

    void TearDown() override
    {
        dglShutdown();
        dglForgetAll();
        recordingReset();
        d3dSetImplementation(savedImplementation);
    }

    // A windowed 640x480 renderer with an empty log.
    void init(bool fullscreen = false)
    {
        dglInit(fakeWindow(), 640, 480, fullscreen);
        recordingClearLog();
    }

    static std::vector<std::string> log() { return recordingLog(); }

    Direct3DCreate8Function savedImplementation = nullptr;
};
