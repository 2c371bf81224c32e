#include "jni/javaprogress.h"

#include <array>
#include <string>

#include "core/iostatus.h"
#include "core/log.h"
#include "jni/jniutil.h"
#include "telnet/telnet.h"

namespace modburn::jni {
namespace {

constexpr char kListenerField[] = "progressListener";
constexpr char kListenerSignature[] = "Lcom/corvane/qel/deployer/modburn/Switch$ProgressListener;";
constexpr char kOnProgressSignature[] = "(Ljava/lang/String;Ljava/lang/String;JLjava/lang/String;)V";
// A listener's exception is shown in its log line escaped and cut to this size.
constexpr int THROWN_SIZE = 300;

void deleteLocal(JNIEnv* env, jobject ref) {
  if (ref != nullptr) env->DeleteLocalRef(ref);
}

// What a throwable says of itself (its toString()), or its absence when
// even that fails.
std::string describe(JNIEnv* env, jthrowable thrown) {
  jclass cls = env->GetObjectClass(thrown);
  jmethodID toString = env->GetMethodID(cls, "toString", "()Ljava/lang/String;");
  env->DeleteLocalRef(cls);
  auto text = toString != nullptr ? static_cast<jstring>(env->CallObjectMethod(thrown, toString)) : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    deleteLocal(env, text);
    return "an exception that cannot describe itself";
  }
  std::string out;
  {
    const ScopedUtfChars chars(env, text);
    out = chars.c_str() != nullptr ? chars.c_str() : "an exception";
  }
  deleteLocal(env, text);
  return out;
}

}  // namespace

JavaProgress::JavaProgress(JNIEnv* env, jobject self) : env_(env), thread_(std::this_thread::get_id()) {
  if (self == nullptr) return;
  jclass cls = env->GetObjectClass(self);
  jfieldID field = env->GetFieldID(cls, kListenerField, kListenerSignature);
  env->DeleteLocalRef(cls);
  if (field == nullptr) {  // a host's Switch class without listeners
    env->ExceptionClear();
    return;
  }
  jobject listener = env->GetObjectField(self, field);
  if (listener == nullptr) return;
  jclass listenerClass = env->GetObjectClass(listener);
  onProgress_ = env->GetMethodID(listenerClass, "onProgress", kOnProgressSignature);
  env->DeleteLocalRef(listenerClass);
  if (onProgress_ == nullptr) {
    env->ExceptionClear();
    env->DeleteLocalRef(listener);
    return;
  }
  listener_ = listener;
}

JavaProgress::~JavaProgress() { deleteLocal(env_, listener_); }

void JavaProgress::report(const ProgressEvent& event) {
  if (event.kind == ProgressKind::Outcome) ended_ = true;
  if (listener_ == nullptr || std::this_thread::get_id() != thread_) return;
  if (env_->ExceptionCheck()) return;  // no Java method may run with an exception pending
  jstring stage = newJavaString(env_, event.stage);
  jstring kind = stage != nullptr ? newJavaString(env_, progress_kind_name(event.kind)) : nullptr;
  jstring text = kind != nullptr ? newJavaString(env_, event.text) : nullptr;
  if (text != nullptr) {
    env_->CallVoidMethod(listener_, onProgress_, stage, kind, static_cast<jlong>(event.value), text);
  }
  deleteLocal(env_, text);
  deleteLocal(env_, kind);
  deleteLocal(env_, stage);
  if (env_->ExceptionCheck()) caught(event);
}

void JavaProgress::settle(int result) {
  if (!ended_) report({"", ProgressKind::Outcome, result, err2String(result)});
}

void JavaProgress::caught(const ProgressEvent& event) {
  jthrowable thrown = env_->ExceptionOccurred();
  env_->ExceptionClear();
  const std::string what = thrown != nullptr ? describe(env_, thrown) : "an exception";
  deleteLocal(env_, thrown);
  std::array<char, THROWN_SIZE> shown{};
  io_log("modburn:progress: the progress listener threw %s at the %s event of stage \"%s\"; the update goes on\n",
         printable(what.c_str(), shown.data(), THROWN_SIZE), progress_kind_name(event.kind), event.stage);
}

}  // namespace modburn::jni
