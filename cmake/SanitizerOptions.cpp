// Linked into the app and the command-line tool of a sanitizer build only.
//
// GCC 12's sanitizer runtime takes some dynamic TLS blocks for an old glibc layout and reads past
// them while the leak checker walks the threads at exit. It then dies with "Tracer caught signal
// 11" and fails a run that leaked nothing. Not intercepting __tls_get_addr avoids that; the leak
// check still scans every thread's static TLS and stacks.
extern "C" const char *__asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
extern "C" const char *__lsan_default_options()
{
    return "intercept_tls_get_addr=0";
}
