// The set-up methods of Switch: start the library, choose the log's
// destination and the telnet layer's debug level. The core's sink and the
// telnet layer's sink always lead to the same destination.
#include "com_corvane_qel_deployer_modburn_Switch.h"

#include "core/log.h"
#include "jni/jniutil.h"
#include "telnet/ssh.h"
#include "telnet/telnet.h"

namespace {

void setSinks(LogSink sink, LogSink telnetSink) {
  io_setLogSink(sink);
  telnet_setLogSink(telnetSink);
}

void setSinks(LogSink sink) { setSinks(sink, sink); }

}  // namespace

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_platform_1init(JNIEnv*, jclass) {
  modburn::jni::guarded("platform_init", [] {
    io_init();
    modburnlog_close();
    setSinks(&modburnlog);
  });
}

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_setLogFile(JNIEnv* env, jclass, jstring name) {
  modburn::jni::guarded("setLogFile", [&] {
    {
      // A null name is taken as an empty one: the log goes to standard error.
      modburn::jni::ScopedUtfChars chars(env, name);
      // A conversion that failed leaves its exception pending for Java to
      // see; no JNI call may follow it, and the log stays as it was.
      if (env->ExceptionCheck()) return;
      modburnlog_reopen(chars.c_str());
      setSinks(&modburnlog);
    }
    modburn::jni::setAppLogger(env, nullptr);
  });
}

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_setAppLogger(JNIEnv* env, jclass,
                                                                                 jobject logger) {
  modburn::jni::guarded("setAppLogger", [&] {
    modburn::jni::setAppLogger(env, logger);
    // The Java logger is told which lines are the telnet layer's own.
    setSinks(&applogger, &telnet_applogger);
    applogger("++++ Switch/MODBURN log AppLogger started\n");
  });
}

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_setTelnetDebugLevel(JNIEnv*, jclass,
                                                                                        jint level) {
  telnet_setDebugLevel(level);  // an atomic exchange: nothing here can throw
}

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_setKnownHostsFile(JNIEnv* env, jclass,
                                                                                     jstring path) {
  modburn::jni::guarded("setKnownHostsFile", [&] {
    modburn::jni::ScopedUtfChars chars(env, path);
    if (env->ExceptionCheck()) return;  // the file stays as it was
    sshcon_setKnownHosts(chars.c_str());
  });
}

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_setHostKeyPolicy(JNIEnv* env, jclass,
                                                                                    jint policy) {
  if (sshcon_setHostKeyPolicy(policy) >= 0) return;
  jclass cls = env->FindClass("java/lang/IllegalArgumentException");
  if (cls != nullptr) env->ThrowNew(cls, "host-key policy must be HOST_KEY_STRICT or HOST_KEY_ACCEPT_NEW");
}
