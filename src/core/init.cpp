// Core start-up: kept apart from the log so that the log alone does not pull
// in the telnet layer.
#include "core/log.h"
#include "telnet/telnet.h"

int io_init() {
  const int status = telnet_init();
  if (status != TELNET_SUCCESS) {
    io_log("io_init failure: telnet_init returned %d (%s)\n", status, telnet_strerror(status));
    return -1;
  }
  return 0;
}
