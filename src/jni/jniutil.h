// The Java boundary's own helpers: scoped access to Java strings, Java strings
// of library texts, the VM and the Java application logger with its sink.
// Only the sources of src/jni include this header (and <jni.h>).
#pragma once

#include <jni.h>

#include <cstddef>
#include <cstdio>
#include <exception>

namespace modburn::jni {

// Logs that the native method entry ended on a C++ exception (what it said);
// never throws itself.
void reportInternalError(const char* entry, const char* what) noexcept;

// Runs body, the work of the native method named entry, so that no C++
// exception crosses into the VM: one that body throws is logged
// (reportInternalError) and then onFailure(what) runs, itself guarded.
template <typename Body, typename OnFailure>
void guarded(const char* entry, Body&& body, OnFailure&& onFailure) noexcept {
  char what[200] = "unknown exception";
  try {
    body();
    return;
  } catch (const std::exception& e) {
    std::snprintf(what, sizeof what, "%s", e.what());
  } catch (...) {
  }
  reportInternalError(entry, what);
  try {
    onFailure(static_cast<const char*>(what));
  } catch (...) {
    reportInternalError(entry, "the failure could not be reported to Java");
  }
}

// The same for a native method that has nothing to do on a failure but log it.
template <typename Body>
void guarded(const char* entry, Body&& body) noexcept {
  guarded(entry, body, [](const char*) {});
}

// The JNI version the library asks for and announces: 1.2.
inline constexpr jint kJniVersion = JNI_VERSION_1_2;

// The UTF-8 chars of a Java string for the length of a scope, released on
// every path. A null string (or a failed conversion) is a missing text: null.
class ScopedUtfChars {
 public:
  ScopedUtfChars(JNIEnv* env, jstring s)
      : env_(env), string_(s), chars_(s != nullptr ? env->GetStringUTFChars(s, nullptr) : nullptr) {}
  ~ScopedUtfChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(string_, chars_);
  }
  ScopedUtfChars(const ScopedUtfChars&) = delete;
  ScopedUtfChars& operator=(const ScopedUtfChars&) = delete;

  // The text, or null when missing.
  const char* c_str() const { return chars_; }

 private:
  JNIEnv* env_;
  jstring string_;
  const char* chars_;
};

// A new Java string of a library text (see java_text); an empty string for a
// null text; null only when the VM could not make it (an exception is pending).
jstring newJavaString(JNIEnv* env, const char* text);

// Keeps the VM that loaded the library (JNI_OnLoad); null until then.
void setVm(JavaVM* vm);
// The VM that loaded the library, or null.
JavaVM* vm();

// Replaces the Java application logger with a global reference to logger;
// a null logger leaves none held.
void setAppLogger(JNIEnv* env, jobject logger);

}  // namespace modburn::jni

// The Java-logger sink: formats one entry (at most 499 characters) and hands
// it to the logger's log(String); without a logger, or on a thread the VM
// does not know, the entry goes to the log file. Never lets a Java exception
// of the logger reach the caller. A logger that implements Switch.SourceLogger
// gets log(source, entry) instead: the dispatcher's "update failed" line as
// its own source, every other entry as the library's.
void applogger(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same sink for the telnet layer: a SourceLogger is told that the entry
// is the telnet layer's own trace.
void telnet_applogger(const char* format, ...) __attribute__((format(printf, 1, 2)));
