// JavaScript the web show links in (--js-library).
mergeInto(LibraryManager.library, {
  // SDL's Web Audio backend calls dynCall and autoResumeAudioContext from
  // its inline JavaScript, which the linker does not see: this function,
  // called once by the show, depends on them and so keeps them in.
  gfxcore_keep_audio_glue__deps: ['$dynCall', '$autoResumeAudioContext'],
  gfxcore_keep_audio_glue: function() {},

  // A browser never blocks on a fence: WebGL's longest client wait is 0, and
  // a longer one is an error that waits for nothing. The OpenGL device waits
  // for its batches only to bound a desktop driver's memory, so on the web
  // the wait asks whether the fence is signalled and goes on.
  glClientWaitSync__sig: 'iiiii',
  glClientWaitSync: function(sync, flags, timeoutLo, timeoutHi) {
    return GLctx.clientWaitSync(GL.syncs[sync], flags, 0);
  },
});
