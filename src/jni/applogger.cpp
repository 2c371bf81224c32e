// The bridge from the library's log to Java: the VM, the application logger
// reference and the sink that calls the logger.
#include "jni/jniutil.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "core/log.h"
#include "jni/javatext.h"

namespace modburn::jni {
namespace {

static_assert(sizeof(jchar) == sizeof(char16_t), "Java chars are UTF-16 code units");

// applogger formats each entry into this many bytes (at most 499 characters).
constexpr std::size_t APPLOG_BUFSIZE = 500;

// The VM is kept once at load time and read by every logging thread.
std::atomic<JavaVM*> gVm{nullptr};

// The logger, a global reference or null. Set-up calls on one thread may
// replace it while updates on others log through it: every access holds the
// mutex, and a caller takes a local reference of its own under it, so the
// object stays alive for the call even if it is replaced meanwhile. The call
// into Java itself runs without the mutex, so a logger that calls back into
// the library cannot deadlock.
std::mutex gLoggerMutex;
jobject gLogger = nullptr;

// A local reference to the current logger, or null when none is held.
jobject currentLogger(JNIEnv* env) {
  std::lock_guard<std::mutex> lock(gLoggerMutex);
  return gLogger != nullptr ? env->NewLocalRef(gLogger) : nullptr;
}

// Prints and clears any Java exception pending on this thread.
void describeAndClear(JNIEnv* env) {
  if (!env->ExceptionCheck()) return;
  env->ExceptionDescribe();
  env->ExceptionClear();
}

// Calls logger.log(entry). False when the logger has no such method, so that
// the entry can go elsewhere; an exception the method throws is described,
// cleared and the entry lost.
bool callLog(JNIEnv* env, jobject logger, const char* entry) {
  jclass cls = env->GetObjectClass(logger);
  jmethodID log = env->GetMethodID(cls, "log", "(Ljava/lang/String;)V");
  env->DeleteLocalRef(cls);
  if (log == nullptr) {
    describeAndClear(env);
    return false;
  }
  jstring text = newJavaString(env, entry);
  if (text != nullptr) {
    env->CallVoidMethod(logger, log, text);
    env->DeleteLocalRef(text);
  }
  describeAndClear(env);
  return true;
}

}  // namespace

jstring newJavaString(JNIEnv* env, const char* text) {
  const std::u16string chars = java_text(text != nullptr ? text : "");
  return env->NewString(reinterpret_cast<const jchar*>(chars.data()), static_cast<jsize>(chars.size()));
}

void reportInternalError(const char* entry, const char* what) noexcept {
  try {
    io_log("modburn:%s: internal error: %s\n", entry, what);
  } catch (...) {
    // Logging failed too (out of memory, say): standard error is all that is left.
    std::fprintf(stderr, "modburn:%s: internal error: %s\n", entry, what);
  }
}

void setVm(JavaVM* vm) { gVm.store(vm); }

JavaVM* vm() { return gVm.load(); }

void setAppLogger(JNIEnv* env, jobject logger) {
  std::lock_guard<std::mutex> lock(gLoggerMutex);
  if (gLogger != nullptr) {
    env->DeleteGlobalRef(gLogger);
    gLogger = nullptr;
  }
  if (logger != nullptr) gLogger = env->NewGlobalRef(logger);
}

}  // namespace modburn::jni

void applogger(const char* format, ...) {
  using namespace modburn::jni;
  JavaVM* jvm = vm();
  if (jvm == nullptr) {
    std::fputs("applogger: this_jvm is NULL. BAD!\n", stderr);
    return;
  }
  char entry[APPLOG_BUFSIZE];
  va_list ap;
  va_start(ap, format);
  io_vformat(entry, sizeof entry, format, ap);
  va_end(ap);

  JNIEnv* env = nullptr;
  if (jvm->GetEnv(reinterpret_cast<void**>(&env), kJniVersion) != JNI_OK || env == nullptr) {
    // A thread the VM does not know has no JNIEnv to call the logger with;
    // its entries go to the log file instead of being lost.
    modburnlog("%s", entry);
    return;
  }
  // With a Java exception pending no Java method may run; keep the entry.
  jobject logger = env->ExceptionCheck() ? nullptr : currentLogger(env);
  if (logger == nullptr) {
    modburnlog("%s", entry);
    return;
  }
  const bool delivered = callLog(env, logger, entry);
  env->DeleteLocalRef(logger);
  if (!delivered) modburnlog("%s", entry);
}
