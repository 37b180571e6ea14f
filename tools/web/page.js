// The page of the web show: fetches the data set into the show's in-memory
// file system before it starts, unlocks the audio on the first click or key,
// scales the canvas (CSS) and goes full screen, shows the show's stages
// (loading, "click to start", the message box, the end screen) and offers
// the tap log as a download. With ?test=... it hands the show's frames and
// report to the server that serves it (POST /result/<name>).
'use strict';

const gfxcorePage = {
  test: new URLSearchParams(location.search).get('test'),
  stage: 0,          // the show's WebStage: 0 loading, 1 waiting, 2 show, 3 ended
  messageShown: false,
  uploads: [],
  report: null,
};

const byId = (id) => document.getElementById(id);

// The audio context SDL plays through (it takes the one it finds on
// Module.SDL2). Browsers keep it suspended until the viewer clicks or presses
// a key on the page; the test modes play no sound and make none.
function gfxcoreMakeAudio() {
  const Context = window.AudioContext || window.webkitAudioContext;
  try {
    return gfxcorePage.test || !Context ? null : new Context();
  } catch (error) {
    console.error('gfxcore: no audio context: ' + error.message);
    return null;
  }
}
const gfxcoreAudio = gfxcoreMakeAudio();

function gfxcoreAudioLocked() {
  return gfxcoreAudio !== null && gfxcoreAudio.state !== 'running';
}

function gfxcoreUnlockAudio() {
  if (gfxcoreAudioLocked())
    gfxcoreAudio.resume().then(gfxcoreUpdateStatus, gfxcoreUpdateStatus);
}

function gfxcoreUpdateStatus(text) {
  const status = byId('status');
  let shown = typeof text === 'string' ? text : null;
  if (shown === null && gfxcorePage.stage < 2)
    shown = gfxcoreAudioLocked() ? 'click to start' : (gfxcorePage.stage === 1 ? 'starting' : 'loading');
  status.hidden = shown === null || gfxcorePage.messageShown;
  byId('status-text').textContent = shown || '';
}

// Called by the show (platform/web/web_page.cpp).
function gfxcoreSetStage(stage) {
  gfxcorePage.stage = stage;
  gfxcoreUpdateStatus();
  if (stage === 3) {
    byId('end').hidden = gfxcorePage.messageShown;
    if (gfxcorePage.test)
      gfxcoreSendReport();
  }
}

function gfxcoreShowMessage(caption, text) {
  gfxcorePage.messageShown = true;
  byId('message-caption').textContent = caption;
  byId('message-text').textContent = text;
  byId('message').hidden = false;
  byId('end').hidden = true;
  byId('status').hidden = true;
}

function gfxcoreSendFile(path, name) {
  const bytes = Module.FS.readFile(path);
  Module.FS.unlink(path);
  gfxcorePage.uploads.push(fetch('result/' + name, { method: 'POST', body: bytes }));
}

function gfxcoreSetReport(json) {
  gfxcorePage.report = JSON.parse(json);
}

// Test modes: the report goes last, once every frame has arrived. It says
// what the page shows: the message box's text and whether the end screen is up.
function gfxcoreSendReport() {
  const report = Object.assign({}, gfxcorePage.report || {});
  report.shownMessage = byId('message').hidden ? '' :
    byId('message-caption').textContent + ': ' + byId('message-text').textContent;
  report.endScreen = !byId('end').hidden;
  Promise.allSettled(gfxcorePage.uploads).then(() =>
    fetch('result/report.json', { method: 'POST', body: JSON.stringify(report) }));
}

function gfxcoreToggleFullscreen() {
  if (document.fullscreenElement)
    document.exitFullscreen();
  else
    byId('stage').requestFullscreen().catch(() => {});
}

function gfxcoreDownloadLog() {
  let bytes;
  try {
    bytes = Module.FS.readFile('/spaceTimes.log');
  } catch (error) {
    bytes = new Uint8Array(0); // the log opens when the show starts
  }
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes], { type: 'text/plain' }));
  link.download = 'spaceTimes.log';
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// The data set: every file named in data/files.txt, as it is, into /data.
// A file the server does not have is left out: the show's loader then ends
// with its own message for it.
function gfxcoreFetchDataSet() {
  Module.addRunDependency('data set');
  const fail = (what) => {
    console.error('gfxcore: ' + what);
    Module.removeRunDependency('data set');
  };
  fetch('data/files.txt').then((response) => {
    if (!response.ok)
      throw new Error('data/files.txt: ' + response.status);
    return response.text();
  }).then((list) => {
    const names = list.split('\n').filter((name) => name.length > 0 && !name.includes('/'));
    let done = 0;
    Module.FS.mkdir('/data');
    return Promise.all(names.map((name) =>
      fetch('data/' + encodeURIComponent(name)).then((response) => response.ok ? response.arrayBuffer() : null)
        .catch(() => null)
        .then((buffer) => {
          if (buffer !== null)
            Module.FS.writeFile('/data/' + name, new Uint8Array(buffer));
          done++;
          gfxcoreUpdateStatus('loading data ' + Math.round(done * 100 / names.length) + '%' +
                              (gfxcoreAudioLocked() ? ' \u00b7 click to start' : ''));
        })));
  }).then(() => {
    gfxcoreUpdateStatus();
    Module.removeRunDependency('data set');
  }, (error) => fail(error.message));
}

var Module = {
  canvas: byId('canvas'),
  SDL2: gfxcoreAudio ? { audioContext: gfxcoreAudio } : undefined,
  preRun: [gfxcoreFetchDataSet],
  print: (text) => console.log(text),
  printErr: (text) => console.error(text),
  onAbort: (what) => gfxcoreShowMessage('gfxcore', 'The show stopped: ' + what),
};

window.addEventListener('error', (event) => {
  if (!gfxcorePage.messageShown && gfxcorePage.stage < 3)
    gfxcoreShowMessage('gfxcore', 'The show stopped: ' + event.message);
});
document.addEventListener('mousedown', gfxcoreUnlockAudio, true);
document.addEventListener('keydown', (event) => {
  gfxcoreUnlockAudio();
  if (event.key === 'f' || event.key === 'F')
    gfxcoreToggleFullscreen();
}, true);
document.addEventListener('touchstart', gfxcoreUnlockAudio, true);
// The bar's buttons give the keyboard back to the show at once: space on
// a focused button would press it again instead of tapping the beat.
const gfxcoreButton = (id, action) => byId(id).addEventListener('click', (event) => {
  event.currentTarget.blur();
  action();
});
gfxcoreButton('fullscreen', gfxcoreToggleFullscreen);
gfxcoreButton('log', gfxcoreDownloadLog);
byId('end-log').addEventListener('click', gfxcoreDownloadLog);
byId('again').addEventListener('click', () => location.reload());
byId('message-ok').addEventListener('click', () => {
  byId('message').hidden = true;
  byId('end').hidden = gfxcorePage.stage !== 3;
});
if (gfxcoreAudio)
  gfxcoreAudio.onstatechange = () => gfxcoreUpdateStatus();
gfxcoreUpdateStatus();
