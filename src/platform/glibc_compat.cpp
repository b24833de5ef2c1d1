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

// Threads and std::filesystem, on glibc 2.33 and later, bind the module to symbols of
// those versions: pthread_create, pthread_join and pthread_detach moved into the C library in 2.34 (new
// version GLIBC_2.34), and stat became a real function in 2.33 (before, the headers
// turned it into __xstat). The module is linked with --wrap for these four names
// (CMakeLists.txt), so every reference, those inside the static C++ runtime included,
// comes here and goes on to the versions glibc 2.28 has: pthread_*@GLIBC_2.2.5 (in
// libpthread.so.0 there, which the module names as needed; in the C library itself
// from 2.34 on) and __xstat@GLIBC_2.2.5 with the x86-64 stat layout (version 1).
#if defined(__x86_64__)
#include <pthread.h>
#include <sys/stat.h>

extern "C" {
int quarrow_pthread_create_2_2_5(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
int quarrow_pthread_join_2_2_5(pthread_t, void**);
int quarrow_pthread_detach_2_2_5(pthread_t);
int quarrow_xstat_2_2_5(int, const char*, struct stat*);
__asm__(".symver quarrow_pthread_create_2_2_5,pthread_create@GLIBC_2.2.5");
__asm__(".symver quarrow_pthread_join_2_2_5,pthread_join@GLIBC_2.2.5");
__asm__(".symver quarrow_pthread_detach_2_2_5,pthread_detach@GLIBC_2.2.5");
__asm__(".symver quarrow_xstat_2_2_5,__xstat@GLIBC_2.2.5");

__attribute__((visibility("hidden"))) int __wrap_pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                                                                void* (*start)(void*), void* arg) {
  return quarrow_pthread_create_2_2_5(thread, attr, start, arg);
}
__attribute__((visibility("hidden"))) int __wrap_pthread_join(pthread_t thread, void** result) {
  return quarrow_pthread_join_2_2_5(thread, result);
}
__attribute__((visibility("hidden"))) int __wrap_pthread_detach(pthread_t thread) {
  return quarrow_pthread_detach_2_2_5(thread);
}
__attribute__((visibility("hidden"))) int __wrap_stat(const char* path, struct stat* out) {
  constexpr int kStatVersionX86_64 = 1;  // _STAT_VER_LINUX
  return quarrow_xstat_2_2_5(kStatVersionX86_64, path, out);
}
}
#endif
