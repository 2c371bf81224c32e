// The fleet benchmark's probe: the bytes the process holds from malloc, all
// arenas together (in use, and mapped for large blocks), for the native memory
// figure per update.
#include <jni.h>
#include <malloc.h>

extern "C" JNIEXPORT jlong JNICALL Java_modburn_bench_FleetBench_mallocInUse(JNIEnv*, jclass) {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<jlong>(m.uordblks + m.hblkhd);
}
