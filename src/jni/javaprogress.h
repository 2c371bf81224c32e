// The progress listener of a Switch object (Switch.setProgressListener), as
// the progress sink of one update. Only the sources of src/jni include this
// header.
#pragma once

#include <jni.h>

#include <thread>

#include "switches/progress.h"

namespace modburn::jni {

// Calls listener.onProgress(stage, kind, value, text) for every event of
// one update, on the thread that runs it and with that thread's JNIEnv; an
// event from any other thread is dropped. An exception the listener throws
// is cleared and logged, and the update goes on as if nothing happened.
// Lives on the stack of the native method, for one update.
class JavaProgress final : public ProgressSink {
 public:
  // Reads the listener of self (none when self is null, when its field is
  // null, or when the host's Switch class has no such field).
  JavaProgress(JNIEnv* env, jobject self);
  ~JavaProgress() override;
  JavaProgress(const JavaProgress&) = delete;
  JavaProgress& operator=(const JavaProgress&) = delete;

  // The sink to hand the module: this, or null when there is no listener.
  ProgressSink* sink() { return listener_ != nullptr ? this : nullptr; }
  void report(const ProgressEvent& event) override;
  // Tells the outcome unless the module did (a family without a module).
  void settle(int result);

 private:
  void caught(const ProgressEvent& event);

  JNIEnv* env_;
  jobject listener_ = nullptr;  // a local reference
  jmethodID onProgress_ = nullptr;
  std::thread::id thread_;
  bool ended_ = false;
};

}  // namespace modburn::jni
