// The messages of a failed configuration step: the same whichever half of the port layer failed.
#include "serial/serial_port.h"

const char* serialStepMessage(SerialStep step) {
  switch (step) {
    case serialStepGetState: return "Error getting serial parameters.";
    case serialStepSetState: return "Error setting serial parameters.";
    case serialStepTimeouts: return "Error setting timeouts.";
    default: return nullptr;
  }
}
