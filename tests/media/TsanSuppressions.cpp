// ThreadSanitizer sees only code built with it. FFmpeg (frame threads, buffer pools) and Qt
// (the queued-event mutex) synchronise through atomics inside their own uninstrumented
// libraries, so every hand-over through them looks like a race. Races between our own
// threads on our own data are still reported. Used only by ThreadSanitizer builds.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libavcodec.so\n"
           "race:libavutil.so\n"
           "race:libavfilter.so\n"
           "race:libavformat.so\n"
           "race:libswscale.so\n"
           "race:libswresample.so\n"
           "race:libx264.so\n"
           "race:libQt6Core.so\n"
           "race:QtPrivate::QSlotObjectBase\n"
           "race:QMetaObject::invokeMethodImpl\n";
}
