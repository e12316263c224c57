// Settings for ThreadSanitizer builds of the player tests; other builds never call these.
//
// The tests make their media files with the ffmpeg command while player threads may be alive,
// which a ThreadSanitizer process only survives with die_after_fork off (the child runs exec
// at once, so the restriction does not matter here).
//
// ThreadSanitizer sees only code built with it. FFmpeg (frame threads, buffer pools) and Qt
// synchronise inside their own uninstrumented libraries, so hand-overs through them look like
// races: accesses made inside those libraries are ignored (the runtime can otherwise trip over
// FFmpeg's own frees) and races reported in them are suppressed. Races between our own threads
// on our own data are still reported.
extern "C" const char* __tsan_default_options() {
    return "die_after_fork=0:ignore_noninstrumented_modules=1";
}

extern "C" const char* __tsan_default_suppressions() {
    return "race:libavcodec.so\n"
           "race:libavutil.so\n"
           "race:libavformat.so\n"
           "race:libswscale.so\n"
           "race:libswresample.so\n"
           "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Multimedia.so\n";
}
