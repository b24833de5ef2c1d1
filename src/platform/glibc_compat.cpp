// Linked into the Linux module and tool only, so that they load on systems with an
// older C library than the one they were built on (glibc 2.28 and later).
//
// libstdc++'s headers, on glibc 2.32 and later, make every reference count and lock
// check the C library's __libc_single_threaded flag; that reference alone would
// require glibc 2.32 at load time. This definition takes its place inside the binary
// (hidden, never exported): it always says "more than one thread", which is the
// safe answer, so every atomic operation stays atomic.
extern "C" {
__attribute__((visibility("hidden"))) char __libc_single_threaded = 0;
}
