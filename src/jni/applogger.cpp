// The bridge from the library's log to Java: the VM, the application logger
// reference and the sinks that call the logger, one for the library's lines
// and one for the telnet layer's own trace.
#include "jni/jniutil.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "core/log.h"
#include "jni/javatext.h"

namespace modburn::jni {
namespace {

static_assert(sizeof(jchar) == sizeof(char16_t), "Java chars are UTF-16 code units");

// applogger formats each entry into this many bytes (at most 499 characters).
constexpr std::size_t APPLOG_BUFSIZE = 500;

// The VM is kept once at load time and read by every logging thread.
std::atomic<JavaVM*> gVm{nullptr};

// A logger that implements this interface is told where each entry comes
// from: it gets log(source, entry) instead of log(entry).
constexpr char kSourceLogger[] = "com/corvane/qel/deployer/modburn/Switch$SourceLogger";
constexpr char kSourceLogSignature[] = "(ILjava/lang/String;)V";

// Where an entry comes from, as the Java interface numbers the sources.
enum class Source : jint { Library = 0, UpdateFailed = 1, Telnet = 2 };

// The dispatcher's line for a failed update; a host's logger shows it apart
// from the progress lines (as a warning).
constexpr std::string_view kUpdateFailed = "update failed:";

// A logger and, for a SourceLogger, its log(source, entry) method.
struct Logger {
  jobject ref = nullptr;
  jmethodID sourceLog = nullptr;
};

// The logger, a global reference or none. Set-up calls on one thread may
// replace it while updates on others log through it: every access holds the
// mutex, and a caller takes a local reference of its own under it, so the
// object stays alive for the call even if it is replaced meanwhile. The call
// into Java itself runs without the mutex, so a logger that calls back into
// the library cannot deadlock.
std::mutex gLoggerMutex;
Logger gLogger;

// The current logger with a local reference, or a null one when none is held.
Logger currentLogger(JNIEnv* env) {
  std::lock_guard<std::mutex> lock(gLoggerMutex);
  if (gLogger.ref == nullptr) return {};
  return {env->NewLocalRef(gLogger.ref), gLogger.sourceLog};
}

// The log(source, entry) method when logger is a SourceLogger, else null.
// A host whose Switch class has no such interface simply has plain loggers.
jmethodID sourceLogMethod(JNIEnv* env, jobject logger) {
  jclass sourceLogger = env->FindClass(kSourceLogger);
  if (sourceLogger == nullptr) {
    env->ExceptionClear();
    return nullptr;
  }
  jmethodID method = nullptr;
  if (env->IsInstanceOf(logger, sourceLogger)) {
    method = env->GetMethodID(sourceLogger, "log", kSourceLogSignature);
    if (method == nullptr) env->ExceptionClear();
  }
  env->DeleteLocalRef(sourceLogger);
  return method;
}

// Prints and clears any Java exception pending on this thread.
void describeAndClear(JNIEnv* env) {
  if (!env->ExceptionCheck()) return;
  env->ExceptionDescribe();
  env->ExceptionClear();
}

// Calls logger.log(source, entry) on a SourceLogger, else logger.log(entry).
// False when the logger has no such method, so that the entry can go
// elsewhere; an exception the method throws is described, cleared and the
// entry lost.
bool callLog(JNIEnv* env, const Logger& logger, Source source, const char* entry) {
  jmethodID log = logger.sourceLog;
  if (log == nullptr) {
    jclass cls = env->GetObjectClass(logger.ref);
    log = env->GetMethodID(cls, "log", "(Ljava/lang/String;)V");
    env->DeleteLocalRef(cls);
    if (log == nullptr) {
      describeAndClear(env);
      return false;
    }
  }
  jstring text = newJavaString(env, entry);
  if (text != nullptr) {
    if (logger.sourceLog != nullptr) {
      env->CallVoidMethod(logger.ref, log, static_cast<jint>(source), text);
    } else {
      env->CallVoidMethod(logger.ref, log, text);
    }
    env->DeleteLocalRef(text);
  }
  describeAndClear(env);
  return true;
}

// Hands one formatted entry to the Java logger on the calling thread, or to
// the log file when that cannot be done.
void deliver(JavaVM* jvm, Source source, const char* entry) {
  JNIEnv* env = nullptr;
  if (jvm->GetEnv(reinterpret_cast<void**>(&env), kJniVersion) != JNI_OK || env == nullptr) {
    // A thread the VM does not know has no JNIEnv to call the logger with;
    // its entries go to the log file instead of being lost.
    modburnlog("%s", entry);
    return;
  }
  // With a Java exception pending no Java method may run; keep the entry.
  const Logger logger = env->ExceptionCheck() ? Logger{} : currentLogger(env);
  if (logger.ref == nullptr) {
    modburnlog("%s", entry);
    return;
  }
  const bool delivered = callLog(env, logger, source, entry);
  env->DeleteLocalRef(logger.ref);
  if (!delivered) modburnlog("%s", entry);
}

// Formats one entry into APPLOG_BUFSIZE bytes and delivers it; only complains
// when no VM has loaded the library.
void logEntry(Source source, const char* format, va_list ap) __attribute__((format(printf, 2, 0)));
void logEntry(Source source, const char* format, va_list ap) {
  JavaVM* jvm = vm();
  if (jvm == nullptr) {
    std::fputs("applogger: this_jvm is NULL. BAD!\n", stderr);
    return;
  }
  char entry[APPLOG_BUFSIZE];
  io_vformat(entry, sizeof entry, format, ap);
  if (source == Source::Library && std::string_view(entry).starts_with(kUpdateFailed)) {
    source = Source::UpdateFailed;
  }
  deliver(jvm, source, entry);
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
  // Looked up before taking the mutex: FindClass may run Java code.
  jmethodID sourceLog = logger != nullptr ? sourceLogMethod(env, logger) : nullptr;
  std::lock_guard<std::mutex> lock(gLoggerMutex);
  if (gLogger.ref != nullptr) {
    env->DeleteGlobalRef(gLogger.ref);
    gLogger = {};
  }
  if (logger != nullptr) gLogger = {env->NewGlobalRef(logger), sourceLog};
}

}  // namespace modburn::jni

void applogger(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  modburn::jni::logEntry(modburn::jni::Source::Library, format, ap);
  va_end(ap);
}

void telnet_applogger(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  modburn::jni::logEntry(modburn::jni::Source::Telnet, format, ap);
  va_end(ap);
}
