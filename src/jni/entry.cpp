// The library hooks and the native methods err2String, update and
// checkRequest: update reads the request out of the Switch object, runs the
// module of its family and turns a failure into a thrown SwitchException;
// checkRequest runs the module's parameter check alone and returns its verdict.
#include "com_corvane_qel_deployer_modburn_Switch.h"

#include <cstdio>

#include "com/secrets.h"
#include "core/iostatus.h"
#include "jni/javaprogress.h"
#include "jni/jniutil.h"
#include "switches/switches.h"

using modburn::jni::newJavaString;
using modburn::jni::ScopedUtfChars;

namespace {

// Size of the error text a module fills (at most 999 characters).
constexpr int ERRTEXT_SIZE = 1000;
constexpr char kNotImplemented[] = "SWITCH XXXFLASH NOT YET IMPLEMENTED";
constexpr char kSwitchException[] = "com/corvane/qel/deployer/modburn/SwitchException";

// The fields of Switch that update reads.
struct SwitchFields {
  jfieldID switchType, targetip, user, password, debugLevel;

  bool complete() const { return switchType && targetip && user && password && debugLevel; }
};

SwitchFields lookUpFields(JNIEnv* env, jobject self) {
  jclass cls = env->GetObjectClass(self);
  SwitchFields f{};
  // Each lookup only after the previous one succeeded: a failed lookup leaves
  // an exception pending, and no JNI call may follow it.
  if ((f.switchType = env->GetFieldID(cls, "switchType", "I")) &&
      (f.targetip = env->GetFieldID(cls, "targetip", "Ljava/lang/String;")) &&
      (f.user = env->GetFieldID(cls, "user", "Ljava/lang/String;")) &&
      (f.password = env->GetFieldID(cls, "password", "Ljava/lang/String;"))) {
    f.debugLevel = env->GetFieldID(cls, "debugLevel", "I");
  }
  env->DeleteLocalRef(cls);
  return f;
}

jstring stringField(JNIEnv* env, jobject self, jfieldID id) {
  return static_cast<jstring>(env->GetObjectField(self, id));
}

// The texts of one request. Members are released in reverse order: fileurl,
// password, user, targetip.
struct RequestTexts {
  ScopedUtfChars targetip;
  ScopedUtfChars user;
  ScopedUtfChars password;
  ScopedUtfChars fileurl;
};

// Runs the module of switchType for req; -99 with its text when the family
// has no module. errText is always left terminated.
int runModule(int switchType, const SwitchRequest& req, char* errText) {
  const ModuleEntry module = switch_module_for(switchType);
  if (module == nullptr) {
    std::snprintf(errText, ERRTEXT_SIZE, "%s", kNotImplemented);
    return IO_NOT_IMPLEMENTED;
  }
  const int result = module(&req, errText, ERRTEXT_SIZE);
  errText[ERRTEXT_SIZE - 1] = '\0';
  return result;
}

// Throws SwitchException(code, message); when the class, its constructor or
// the message cannot be made, the VM's own exception stays pending instead.
void throwSwitchException(JNIEnv* env, int code, const char* message) {
  jclass cls = env->FindClass(kSwitchException);
  if (cls == nullptr) return;
  jmethodID init = env->GetMethodID(cls, "<init>", "(ILjava/lang/String;)V");
  jstring text = init != nullptr ? newJavaString(env, message) : nullptr;
  if (text != nullptr) {
    auto exception = static_cast<jthrowable>(env->NewObject(cls, init, static_cast<jint>(code), text));
    if (exception != nullptr) env->Throw(exception);
  }
}

}  // namespace

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
  modburn::jni::setVm(vm);
  return modburn::jni::kJniVersion;
}

JNIEXPORT void JNICALL JNI_OnUnload(JavaVM*, void*) {}

JNIEXPORT jstring JNICALL Java_com_corvane_qel_deployer_modburn_Switch_err2String(JNIEnv* env, jclass,
                                                                                  jint code) {
  return newJavaString(env, err2String(code));
}

namespace {

// Reads the request out of self, runs the module of its family (checkOnly:
// its parameter check alone) with the switch password masked in every log
// line, and returns the result; false when a JNI call failed and its
// exception is pending.
bool runRequest(JNIEnv* env, jobject self, jstring fileurl, jboolean reboot, jint modifier, bool checkOnly,
                int& switchType, int& result, char* errText) {
  const SwitchFields fields = lookUpFields(env, self);
  if (!fields.complete()) return false;  // NoSuchFieldError is pending
  switchType = env->GetIntField(self, fields.switchType);
  RequestTexts texts{ScopedUtfChars(env, stringField(env, self, fields.targetip)),
                     ScopedUtfChars(env, stringField(env, self, fields.user)),
                     ScopedUtfChars(env, stringField(env, self, fields.password)),
                     ScopedUtfChars(env, fileurl)};
  if (env->ExceptionCheck()) return false;  // a conversion ran out of memory
  SwitchRequest req{texts.targetip.c_str(),
                    texts.user.c_str(),
                    texts.password.c_str(),
                    texts.fileurl.c_str(),
                    reboot != JNI_FALSE,
                    env->GetIntField(self, fields.debugLevel),
                    modifier,
                    checkOnly};
  // No log line of the run shows the switch password, whatever a module
  // wrote. The error text is masked where it is composed: the frame masks
  // the switch's quoted answers, and the rest is the library's own text,
  // which masking here could only spoil (a one-letter password would star
  // that letter throughout the message).
  const char* password = texts.password.c_str();
  modburn::SecretScope secrets{password != nullptr ? password : ""};
  // An update tells the Switch's progress listener how it goes; a check tells nothing.
  modburn::jni::JavaProgress progress(env, checkOnly ? nullptr : self);
  req.progress = progress.sink();
  result = runModule(switchType, req, errText);
  progress.settle(result);
  return true;
}

}  // namespace

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_update(JNIEnv* env, jobject self,
                                                                           jstring fileurl, jboolean reboot,
                                                                           jint modifier) {
  char errText[ERRTEXT_SIZE] = "";
  int switchType = 0;
  int result = 0;
  if (!runRequest(env, self, fileurl, reboot, modifier, false, switchType, result, errText)) return;

  if (result == IO_SUCCESS) {
    applogger("update succeeded: switchType=%d\n", switchType);
    return;
  }
  applogger("update failed: error code=%d (errmsg=%s)\n", result, errText);
  throwSwitchException(env, result, errText);
}

JNIEXPORT jint JNICALL Java_com_corvane_qel_deployer_modburn_Switch_checkRequest(JNIEnv* env, jobject self,
                                                                                 jstring fileurl,
                                                                                 jboolean reboot, jint modifier) {
  char errText[ERRTEXT_SIZE] = "";
  int switchType = 0;
  int result = 0;
  if (!runRequest(env, self, fileurl, reboot, modifier, true, switchType, result, errText)) return IO_BAD_PARAMS;
  return result;
}
