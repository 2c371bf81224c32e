// A stand-in VM for the tests of the Java boundary: a JavaVM and a JNIEnv
// whose function tables hold what the library calls, a Switch object, a
// logger and the SwitchException class, recording what is done with them.
// Every function but those the JNI allows while an exception is pending
// (looking at it, releasing, deleting references) records a call made with
// one pending, and throws a C++ exception when the test asks it to.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "jni/jniutil.h"

namespace standin {

// The Switch object, the VM's behaviour and what the VM saw.
struct Vm {
  // The fields of the Switch object.
  int switchType = 0;
  std::optional<std::string> targetip = "127.0.0.1", user = "admin", password = "Sw1tch-Pw";
  int debugLevel = 2;

  jint getEnvResult = JNI_OK;  // what GetEnv answers
  bool hasLogMethod = true;    // the logger has log(String)
  bool logThrows = false;      // log(String) throws
  bool sourceLogger = false;   // the logger implements Switch.SourceLogger
  int failConversion = -1;     // the GetStringUTFChars call (0 first) that runs out of memory
  std::string throwIn;         // the JNI function that throws a C++ exception

  bool pending = false;  // a Java exception is pending
  std::vector<std::string> callsWhilePending;
  int describes = 0, globalRefs = 0, conversions = 0, releases = 0;
  std::deque<std::u16string> strings;  // made by NewString; a jstring points at one
  struct Thrown {
    int code;
    std::u16string message;
  };
  std::vector<Thrown> thrown;          // SwitchExceptions thrown
  std::vector<std::u16string> logged;  // handed to the logger's log(String) or log(int, String)
  std::vector<jint> sources;           // handed to log(int, String)
};
inline Vm fake;

// Objects, classes, methods and fields are told apart by their addresses.
inline int switchObject, switchClass, loggerObject, loggerClass, exceptionClass, exceptionObject;
inline int logMethod, exceptionInit, sourceLoggerClass, sourceLogMethod;
inline int fieldIds[5];
inline const char* const kFields[] = {"switchType", "targetip", "user", "password", "debugLevel"};

inline JNINativeInterface_ envFunctions{};
inline JNIEnv env{&envFunctions};
inline JNIInvokeInterface_ vmFunctions{};
inline JavaVM vm{&vmFunctions};

inline jobject logger() { return reinterpret_cast<jobject>(&loggerObject); }
inline jobject switchSelf() { return reinterpret_cast<jobject>(&switchObject); }

inline void enter(const char* name) {
  if (fake.pending) fake.callsWhilePending.emplace_back(name);
  if (fake.throwIn == name) throw std::runtime_error("boom in " + fake.throwIn);
}

inline jint JNICALL getEnv(JavaVM*, void** out, jint version) {
  EXPECT_EQ(version, JNI_VERSION_1_2);
  *out = fake.getEnvResult == JNI_OK ? &env : nullptr;
  return fake.getEnvResult;
}
inline jboolean JNICALL exceptionCheck(JNIEnv*) { return fake.pending ? JNI_TRUE : JNI_FALSE; }
inline void JNICALL exceptionDescribe(JNIEnv*) {
  ++fake.describes;
  fake.pending = false;
}
inline void JNICALL exceptionClear(JNIEnv*) { fake.pending = false; }
inline void JNICALL deleteLocalRef(JNIEnv*, jobject) {}
inline void JNICALL deleteGlobalRef(JNIEnv*, jobject) { --fake.globalRefs; }
inline jobject JNICALL newLocalRef(JNIEnv*, jobject obj) {
  enter("NewLocalRef");
  return obj;
}
inline jobject JNICALL newGlobalRef(JNIEnv*, jobject obj) {
  enter("NewGlobalRef");
  ++fake.globalRefs;
  return obj;
}
inline jclass JNICALL getObjectClass(JNIEnv*, jobject obj) {
  enter("GetObjectClass");
  return reinterpret_cast<jclass>(obj == logger() ? &loggerClass : &switchClass);
}
inline jfieldID JNICALL getFieldID(JNIEnv*, jclass, const char* name, const char*) {
  enter("GetFieldID");
  for (int& id : fieldIds) {
    if (std::string(name) == kFields[&id - fieldIds]) return reinterpret_cast<jfieldID>(&id);
  }
  fake.pending = true;  // NoSuchFieldError
  return nullptr;
}
inline long fieldIndex(jfieldID id) { return reinterpret_cast<int*>(id) - fieldIds; }
inline jint JNICALL getIntField(JNIEnv*, jobject, jfieldID id) {
  enter("GetIntField");
  return fieldIndex(id) == 0 ? fake.switchType : fake.debugLevel;
}
inline jobject JNICALL getObjectField(JNIEnv*, jobject, jfieldID id) {
  enter("GetObjectField");
  std::optional<std::string>* texts[] = {nullptr, &fake.targetip, &fake.user, &fake.password};
  std::optional<std::string>& text = *texts[fieldIndex(id)];
  return text ? reinterpret_cast<jobject>(&*text) : nullptr;
}
inline const char* JNICALL getStringUTFChars(JNIEnv*, jstring s, jboolean*) {
  enter("GetStringUTFChars");
  if (fake.conversions++ == fake.failConversion) {
    fake.pending = true;  // OutOfMemoryError
    return nullptr;
  }
  return reinterpret_cast<std::string*>(s)->c_str();
}
inline void JNICALL releaseStringUTFChars(JNIEnv*, jstring, const char*) { ++fake.releases; }
inline jclass JNICALL findClass(JNIEnv*, const char* name) {
  enter("FindClass");
  if (std::string(name) == "com/corvane/qel/deployer/modburn/Switch$SourceLogger") {
    return reinterpret_cast<jclass>(&sourceLoggerClass);
  }
  EXPECT_STREQ(name, "com/corvane/qel/deployer/modburn/SwitchException");
  return reinterpret_cast<jclass>(&exceptionClass);
}
inline jboolean JNICALL isInstanceOf(JNIEnv*, jobject, jclass cls) {
  enter("IsInstanceOf");
  EXPECT_EQ(cls, reinterpret_cast<jclass>(&sourceLoggerClass));
  return fake.sourceLogger ? JNI_TRUE : JNI_FALSE;
}
inline jmethodID JNICALL getMethodID(JNIEnv*, jclass cls, const char* name, const char* sig) {
  enter("GetMethodID");
  if (cls == reinterpret_cast<jclass>(&sourceLoggerClass)) {
    EXPECT_STREQ(name, "log");
    EXPECT_STREQ(sig, "(ILjava/lang/String;)V");
    return reinterpret_cast<jmethodID>(&sourceLogMethod);
  }
  if (cls == reinterpret_cast<jclass>(&loggerClass)) {
    EXPECT_STREQ(name, "log");
    EXPECT_STREQ(sig, "(Ljava/lang/String;)V");
    if (!fake.hasLogMethod) {
      fake.pending = true;  // NoSuchMethodError
      return nullptr;
    }
    return reinterpret_cast<jmethodID>(&logMethod);
  }
  EXPECT_STREQ(name, "<init>");
  EXPECT_STREQ(sig, "(ILjava/lang/String;)V");
  return reinterpret_cast<jmethodID>(&exceptionInit);
}
inline jstring JNICALL newString(JNIEnv*, const jchar* chars, jsize len) {
  enter("NewString");
  fake.strings.emplace_back(reinterpret_cast<const char16_t*>(chars), static_cast<std::size_t>(len));
  return reinterpret_cast<jstring>(&fake.strings.back());
}
// The C++ face of JNIEnv calls the va_list forms.
inline jobject JNICALL newObjectV(JNIEnv*, jclass, jmethodID, va_list ap) {
  enter("NewObject");
  const jint code = va_arg(ap, jint);
  const auto* message = reinterpret_cast<std::u16string*>(va_arg(ap, jstring));
  fake.thrown.push_back({code, *message});
  return reinterpret_cast<jobject>(&exceptionObject);
}
inline jint JNICALL throwException(JNIEnv*, jthrowable) {
  enter("Throw");
  fake.pending = true;
  return 0;
}
inline void JNICALL callVoidMethodV(JNIEnv*, jobject obj, jmethodID method, va_list ap) {
  enter("CallVoidMethod");
  EXPECT_EQ(obj, logger());
  if (method == reinterpret_cast<jmethodID>(&sourceLogMethod)) {
    fake.sources.push_back(va_arg(ap, jint));
  } else {
    EXPECT_EQ(method, reinterpret_cast<jmethodID>(&logMethod));
  }
  fake.logged.push_back(*reinterpret_cast<std::u16string*>(va_arg(ap, jstring)));
  if (fake.logThrows) fake.pending = true;
}

// Fills the function tables, forgets what the VM saw and loads the library.
inline void install() {
  vmFunctions.GetEnv = &getEnv;
  envFunctions.ExceptionCheck = &exceptionCheck;
  envFunctions.ExceptionDescribe = &exceptionDescribe;
  envFunctions.ExceptionClear = &exceptionClear;
  envFunctions.DeleteLocalRef = &deleteLocalRef;
  envFunctions.DeleteGlobalRef = &deleteGlobalRef;
  envFunctions.NewLocalRef = &newLocalRef;
  envFunctions.NewGlobalRef = &newGlobalRef;
  envFunctions.GetObjectClass = &getObjectClass;
  envFunctions.GetFieldID = &getFieldID;
  envFunctions.GetIntField = &getIntField;
  envFunctions.GetObjectField = &getObjectField;
  envFunctions.GetStringUTFChars = &getStringUTFChars;
  envFunctions.ReleaseStringUTFChars = &releaseStringUTFChars;
  envFunctions.FindClass = &findClass;
  envFunctions.IsInstanceOf = &isInstanceOf;
  envFunctions.GetMethodID = &getMethodID;
  envFunctions.NewString = &newString;
  envFunctions.NewObjectV = &newObjectV;
  envFunctions.Throw = &throwException;
  envFunctions.CallVoidMethodV = &callVoidMethodV;
  fake = Vm{};
  EXPECT_EQ(JNI_OnLoad(&vm, nullptr), JNI_VERSION_1_2);
}

// A Java string's UTF-16 as bytes, every character beyond ASCII as '?'.
inline std::string narrow(const std::u16string& text) {
  std::string out;
  for (const char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

}  // namespace standin
