// The page around the show in a web browser (tools/web/index.html and
// page.js), seen from C++: the browser's frame callback that drives
// everything (a browser draws the canvas and delivers input only between
// callbacks, so nothing may loop), the page's clock and query, whether its
// audio has been unlocked by a click or key, the overlays it shows (status,
// message box, end screen) and, in the test modes, what it hands to the
// server that serves it.
// Depends on: Emscripten (HTML5 main loop, JS glue). Browser builds only.
#pragma once

#include <string>

using WebFrameCallback = void (*)();

// Calls callback once per browser frame (requestAnimationFrame) until
// webStopFrameLoop. Returns at once.
void webStartFrameLoop(WebFrameCallback callback);
void webStopFrameLoop();

// The page's clock in milliseconds (performance.now()).
double webNowMs();

// The page's query without its '?' ("" when it has none).
std::string webPageQuery();

// True once the page's audio context runs: browsers start sound only after
// the viewer has clicked or pressed a key on the page. True as well when the
// page has no audio context at all.
bool webAudioUnlocked();

// What the page shows over the canvas.
enum class WebStage {
    loading, // the progress screen; "click to start" while the audio is locked
    waiting, // loaded, waiting for the click that unlocks the audio
    show,    // the show plays: no overlay
    ended,   // the end screen, unless a message box is shown
};
void webPageSetStage(WebStage stage);

// The message box in the page (platformMessageBox on the web ends here).
void webPageShowMessage(const char* caption, const char* text);

// Test modes: the page posts the file at path (in the in-memory file
// system) to its server under name and deletes it; a report (JSON text)
// is posted when the show ends, after every file.
void webPageSendFile(const char* path, const char* name);
void webPageSetReport(const char* json);
