// How the event loop waits for a link's port: on what the port layer arms for it (a descriptor on
// Linux, an event on Windows), the timer carrying the link's own bound only.
#include "serial/link_wait.h"

#include "serial/serial_port.h"

LinkWait linkWait(int watchDescriptor, long long deadlineMs) {
  return LinkWait{watchDescriptor >= 0 ? armInputWait(watchDescriptor) : -1, deadlineMs};
}
