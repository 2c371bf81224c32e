// The library hooks and the native methods err2String, update, readVersions
// and checkRequest: update reads the request out of the Switch object, runs
// the module of its family and turns a failure into a thrown SwitchException;
// readVersions logs in the same way, lists the firmware versions and returns
// them; checkRequest runs the module's parameter check alone and returns its
// verdict.
#include "com_corvane_qel_deployer_modburn_Switch.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "com/secrets.h"
#include "core/iostatus.h"
#include "jni/javaprogress.h"
#include "jni/jniutil.h"
#include "switches/params.h"
#include "switches/switches.h"
#include "telnet/ssh.h"
#include "url/url.h"

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
  std::optional<ScopedUtfChars> targetip;
  std::optional<ScopedUtfChars> user;
  std::optional<ScopedUtfChars> password;
  std::optional<ScopedUtfChars> fileurl;

  // Reads the texts in that order. A conversion that fails (out of memory)
  // leaves its exception pending, and no JNI call may follow it: false at
  // once, the texts read so far released by the destructor.
  bool read(JNIEnv* env, jobject self, const SwitchFields& f, jstring url) {
    const struct {
      std::optional<ScopedUtfChars>& text;
      jfieldID field;
    } fields[] = {{targetip, f.targetip}, {user, f.user}, {password, f.password}};
    for (const auto& [text, field] : fields) {
      text.emplace(env, stringField(env, self, field));
      if (env->ExceptionCheck()) return false;
    }
    fileurl.emplace(env, url);
    return !env->ExceptionCheck();
  }
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

// An internal error of the library as a SwitchException; a Java exception
// already pending (a failed JNI call) says enough.
void throwInternalError(JNIEnv* env, const char* what) {
  if (env->ExceptionCheck()) return;
  char message[ERRTEXT_SIZE];
  std::snprintf(message, sizeof message, "Error: internal error of the library: %s", what);
  throwSwitchException(env, IO_UPDATE_ERR, message);
}

}  // namespace

JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void*) {
  modburn::jni::setVm(vm);
  return modburn::jni::kJniVersion;
}

JNIEXPORT void JNICALL JNI_OnUnload(JavaVM*, void*) {}

JNIEXPORT jstring JNICALL Java_com_corvane_qel_deployer_modburn_Switch_err2String(JNIEnv* env, jclass,
                                                                                  jint code) {
  jstring text = nullptr;  // what Java gets when the string cannot be made
  modburn::jni::guarded("err2String", [&] { text = newJavaString(env, err2String(code)); });
  return text;
}

namespace {

// Reads the request out of self, runs the module of its family (checkOnly:
// its parameter check alone; versions not null: its version listing instead
// of the update) with the switch password masked in every log line, and
// returns the result; false when a JNI call failed and its exception is
// pending.
bool runRequest(JNIEnv* env, jobject self, jstring fileurl, jboolean reboot, jint modifier, bool checkOnly,
                int& switchType, int& result, char* errText, std::vector<std::string>* versions = nullptr) {
  const SwitchFields fields = lookUpFields(env, self);
  if (!fields.complete()) return false;  // NoSuchFieldError is pending
  switchType = env->GetIntField(self, fields.switchType);
  RequestTexts texts;
  if (!texts.read(env, self, fields, fileurl)) return false;  // a conversion ran out of memory
  SwitchRequest req{texts.targetip->c_str(),
                    texts.user->c_str(),
                    texts.password->c_str(),
                    texts.fileurl->c_str(),
                    reboot != JNI_FALSE,
                    env->GetIntField(self, fields.debugLevel),
                    modifier,
                    checkOnly,
                    versions};
  // No log line of the run shows the switch password, whatever a module
  // wrote. The error text is masked where it is composed: the frame masks
  // the switch's quoted answers, and the rest is the library's own text,
  // which masking here could only spoil (a one-letter password would star
  // that letter throughout the message).
  const char* password = texts.password->c_str();
  // A URL password holding '/' is refused by the parameter check; should
  // any line show the URL before that, the password is masked all the same.
  std::string_view slashed;
  std::size_t from = 0, length = 0;
  if (url_slashed_password(req.fileurl, &from, &length)) slashed = std::string_view(req.fileurl + from, length);
  modburn::SecretScope secrets{password != nullptr ? password : "", slashed};
  // An update tells the Switch's progress listener how it goes; a check or a
  // versions request tells nothing.
  modburn::jni::JavaProgress progress(env, checkOnly || versions != nullptr ? nullptr : self);
  req.progress = progress.sink();
  result = runModule(switchType, req, errText);
  progress.settle(result);
  return true;
}

}  // namespace

JNIEXPORT void JNICALL Java_com_corvane_qel_deployer_modburn_Switch_update(JNIEnv* env, jobject self,
                                                                           jstring fileurl, jboolean reboot,
                                                                           jint modifier) {
  modburn::jni::guarded(
      "update",
      [&] {
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
      },
      [&](const char* what) { throwInternalError(env, what); });
}

namespace {

// A new String[] of the texts; null when the VM could not make it (its
// exception is pending).
jobjectArray newStringArray(JNIEnv* env, const std::vector<std::string>& texts) {
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) return nullptr;
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(texts.size()), stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  for (jsize i = 0; array != nullptr && i < static_cast<jsize>(texts.size()); ++i) {
    jstring text = newJavaString(env, texts[static_cast<std::size_t>(i)].c_str());
    if (text == nullptr) return nullptr;
    env->SetObjectArrayElement(array, i, text);
    env->DeleteLocalRef(text);
  }
  return array;
}

// The modifier of readVersions(): SAS lists the switch itself (1); the other
// families do not read it.
constexpr jint kSwitchItself = 1;

}  // namespace

// readVersions(modifier): the request of update without a URL; the versions
// listed, or a thrown SwitchException as update throws it.
JNIEXPORT jobjectArray JNICALL Java_com_corvane_qel_deployer_modburn_Switch_readVersions__I(JNIEnv* env,
                                                                                           jobject self,
                                                                                           jint modifier) {
  jobjectArray listed = nullptr;
  modburn::jni::guarded(
      "readVersions",
      [&] {
        char errText[ERRTEXT_SIZE] = "";
        int switchType = 0;
        int result = 0;
        std::vector<std::string> versions;
        if (!runRequest(env, self, nullptr, JNI_FALSE, modifier, false, switchType, result, errText, &versions)) {
          return;
        }
        if (result == IO_SUCCESS) {
          applogger("readVersions succeeded: switchType=%d, %zu versions\n", switchType, versions.size());
          listed = newStringArray(env, versions);
          return;
        }
        applogger("readVersions failed: error code=%d (errmsg=%s)\n", result, errText);
        throwSwitchException(env, result, errText);
      },
      [&](const char* what) {
        listed = nullptr;
        throwInternalError(env, what);
      });
  return listed;
}

JNIEXPORT jobjectArray JNICALL Java_com_corvane_qel_deployer_modburn_Switch_readVersions__(JNIEnv* env,
                                                                                          jobject self) {
  return Java_com_corvane_qel_deployer_modburn_Switch_readVersions__I(env, self, kSwitchItself);
}

JNIEXPORT jint JNICALL Java_com_corvane_qel_deployer_modburn_Switch_checkRequest(JNIEnv* env, jobject self,
                                                                                 jstring fileurl,
                                                                                 jboolean reboot, jint modifier) {
  jint verdict = IO_UPDATE_ERR;  // what an internal error leaves
  modburn::jni::guarded("checkRequest", [&] {
    char errText[ERRTEXT_SIZE] = "";
    int switchType = 0;
    int result = 0;
    verdict = runRequest(env, self, fileurl, reboot, modifier, true, switchType, result, errText) ? result
                                                                                                 : IO_BAD_PARAMS;
  });
  return verdict;
}

namespace {

// The state word of a host-key check's result.
const char* hostKeyState(int rc) {
  switch (rc) {
    case TELNET_SUCCESS: return "known";
    case SSHCON_HOSTKEY_UNKNOWN: return "unknown";
    case SSHCON_HOSTKEY_CHANGED: return "changed";
    case SSHCON_HOSTKEY_ERROR: return "unusable";
    case TELNET_BAD_HOST: return "invalid";
    default: return "unreachable";
  }
}

}  // namespace

JNIEXPORT jobjectArray JNICALL Java_com_corvane_qel_deployer_modburn_Switch_checkHostKey(JNIEnv* env, jclass,
                                                                                        jstring address,
                                                                                        jint timeoutMillis) {
  jobjectArray result = nullptr;
  modburn::jni::guarded(
      "checkHostKey",
      [&] {
        std::array<char, 200> key{};
        std::array<char, ERRTEXT_SIZE> why{};
        int rc = TELNET_BAD_HOST;
        {
          ScopedUtfChars chars(env, address);
          if (env->ExceptionCheck()) return;
          rc = modburn::check_host_key(chars.c_str(), std::max(1000, static_cast<int>(timeoutMillis)), key.data(),
                                       static_cast<int>(key.size()), why.data(), static_cast<int>(why.size()));
        }
        result = newStringArray(env, {hostKeyState(rc), key.data(), why.data()});
      },
      [&](const char* what) { throwInternalError(env, what); });
  return result;
}
