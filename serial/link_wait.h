// How the event loop waits for a link's port: on its descriptor where the platform can, else by
// looking at the open port on a timer. The Linux and the Windows half each define linkWait.
#pragma once

struct LinkWait {
  int descriptor;   // to watch for readable bytes; -1 for none
  long long dueMs;  // when to wake without bytes; -1 for never
};

// openDescriptor: the port's descriptor, -1 while it is closed; watchDescriptor: the one the
// link wants watched now (-1 also while it rests); deadlineMs: the link's own bound, -1 for none.
LinkWait linkWait(int openDescriptor, int watchDescriptor, long long deadlineMs, long long nowMs);
