// How the event loop waits for a link's port: on what the port layer arms for it, and a timer
// for the link's own bound. Both halves of the port layer share it.
#pragma once
#include <cstdint>

struct LinkWait {
  intptr_t handle;  // what to watch for input (a descriptor, or a Windows event); -1 for none
  long long dueMs;  // when to wake without input; -1 for never
};

// watchDescriptor: the port the link wants watched now (-1 while it is closed or rests);
// deadlineMs: the link's own bound, -1 for none. Arms the port's wait, so call it after each
// wake-up's reads: no timer stands in for input.
LinkWait linkWait(int watchDescriptor, long long deadlineMs);
