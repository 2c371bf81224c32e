// The switch modules as the Java boundary sees them: the update request and
// the table from family code to module entry.
#pragma once

#include <string>
#include <vector>

namespace modburn {
class ProgressSink;
}

// One update request. The texts are borrowed for the duration of the call;
// a missing text is a null pointer.
struct SwitchRequest {
  const char* targetip;
  const char* user;
  const char* password;
  const char* fileurl;
  bool reboot;
  int debugLevel;
  int modifier;
  // Runs the family's parameter check and nothing else: no connection is
  // opened, and the module returns the check's verdict (0 when it passes).
  bool checkOnly = false;
  // Not null: a versions request instead of an update. The module logs in
  // (the URL is neither needed nor read), runs the family's version listing
  // at every debug level, closes the session and leaves one "<label>:
  // <value>" entry per version line here; it types nothing else. A listing
  // that finds no version line fails with IO_UPDATE_ERR; one that does not
  // come through whole (a lost session, no end) with the result of the wait
  // that failed, and hands back no versions.
  std::vector<std::string>* versions = nullptr;
  // Not null: told the update's progress (switches/progress.h) on the calling
  // thread: its stages, the progress its console prints, and its outcome.
  modburn::ProgressSink* progress = nullptr;
};

// A module entry: runs the whole update; returns 0 or a negative IoStatus and,
// on failure, leaves a terminated error text in errText.
using ModuleEntry = int (*)(const SwitchRequest* req, char* errText, int errTextSize);

// The module of a family code (SwitchType 1 to 11), or null when the code
// selects no module (yet).
ModuleEntry switch_module_for(int switchType);
