// Linux: the event loop wakes on the port's descriptor; the timer carries the link's bound only.
#include "serial/link_wait.h"

LinkWait linkWait(int, int watchDescriptor, long long deadlineMs, long long) {
  return LinkWait{watchDescriptor, deadlineMs};
}
