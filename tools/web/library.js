// JavaScript the web show links in (--js-library). SDL's Web Audio backend
// calls dynCall and autoResumeAudioContext from its inline JavaScript, which
// the linker does not see: this function, called once by the show, depends
// on them and so keeps them in.
mergeInto(LibraryManager.library, {
  gfxcore_keep_audio_glue__deps: ['$dynCall', '$autoResumeAudioContext'],
  gfxcore_keep_audio_glue: function() {},
});
