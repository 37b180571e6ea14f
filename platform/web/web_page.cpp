// The page bridge of web_page.h: Emscripten's main loop and small calls into
// the page's script (tools/web/page.js defines the gfxcore* functions; a page
// without them still runs the show, it only shows less).
// Also the web's message box: the page shows it, standard error (the
// browser's console) gets the same line as on the desktop.
// Depends on: Emscripten (emscripten.h, EM_JS), platform/window.h.
#include "platform/web/web_page.h"

#include "platform/window.h"

#include <emscripten.h>

#include <cstdio>
#include <cstdlib>

namespace {

// clang-format off
// A page without an audio context (a browser without Web Audio) has
// nothing to unlock: the show starts and SDL reports the missing sound.
EM_JS(int, jsAudioUnlocked, (), {
    var sdl = Module["SDL2"];
    return !sdl || !sdl.audioContext || sdl.audioContext.state === "running" ? 1 : 0;
});

EM_JS(char*, jsPageQuery, (), {
    var text = location.search.length > 0 ? location.search.substring(1) : "";
    var size = lengthBytesUTF8(text) + 1;
    var copy = _malloc(size);
    stringToUTF8(text, copy, size);
    return copy;
});

EM_JS(void, jsSetStage, (int stage), {
    if (typeof gfxcoreSetStage === "function") gfxcoreSetStage(stage);
});

EM_JS(void, jsShowMessage, (const char* caption, const char* text), {
    if (typeof gfxcoreShowMessage === "function") gfxcoreShowMessage(UTF8ToString(caption), UTF8ToString(text));
});

EM_JS(void, jsSendFile, (const char* path, const char* name), {
    if (typeof gfxcoreSendFile === "function") gfxcoreSendFile(UTF8ToString(path), UTF8ToString(name));
});

EM_JS(void, jsSetReport, (const char* json), {
    if (typeof gfxcoreSetReport === "function") gfxcoreSetReport(UTF8ToString(json));
});
// clang-format on

} // namespace

// tools/web/library.js: keeps the JavaScript SDL's audio needs in the build.
extern "C" void gfxcore_keep_audio_glue();

void webStartFrameLoop(WebFrameCallback callback)
{
    gfxcore_keep_audio_glue();
    // 0 frames per second: the browser's own frame rate (requestAnimationFrame).
    emscripten_set_main_loop(callback, 0, false);
}

void webStopFrameLoop() { emscripten_cancel_main_loop(); }

double webNowMs() { return emscripten_get_now(); }

std::string webPageQuery()
{
    char* text = jsPageQuery();
    std::string query = text != nullptr ? text : "";
    std::free(text);
    return query;
}

bool webAudioUnlocked() { return jsAudioUnlocked() != 0; }

void webPageSetStage(WebStage stage) { jsSetStage(static_cast<int>(stage)); }

void webPageShowMessage(const char* caption, const char* text)
{
    jsShowMessage(caption != nullptr ? caption : "", text != nullptr ? text : "");
}

void webPageSendFile(const char* path, const char* name) { jsSendFile(path, name); }

void webPageSetReport(const char* json) { jsSetReport(json); }

void platformMessageBox(const char* caption, const char* text)
{
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
    std::fflush(stderr);
    webPageShowMessage(caption, text);
}
