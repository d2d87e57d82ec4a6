// Qt's libraries are not built with the thread sanitizer: their internal thread pool (used for
// large fills and image conversions) synchronises in ways the sanitizer cannot see, so its
// allocations would be reported as races. Leave out what those libraries do by themselves; our
// own code stays fully checked. Options given in TSAN_OPTIONS still apply on top of this.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}
#endif
