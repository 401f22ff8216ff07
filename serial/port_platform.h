// What each half of the port layer (Linux, Windows) gives the shared part of discovery.
#pragma once
#include <cstddef>

#include "serial/port_discovery.h"

// Copies at most outSize-1 bytes of src and always terminates.
void copyCut(char* out, size_t outSize, const char* src, size_t srcLen);
void copyCut(char* out, size_t outSize, const char* src);

// The system's own serial ports, in the order the system lists them; a portSource value.
int enumerateSystemPorts(PortVisitor visit, void* context, PortSourceReport report);

// Fills port's name and device path from the first field of a QUARN_VIRTUAL_PORTS entry;
// 0 when it names no port.
int virtualPortPaths(const char* first, PortInfo& port);
