// Opening a start-up file for reading so that no kind of file can stall the start.
#pragma once
#include <cstdio>

// Opens path read-only without blocking (a FIFO without a writer would wait forever) and
// keeps it only when the opened file is a regular file: a FIFO, a device such as /dev/zero,
// a directory, or a link to any of them is closed again. The check is made on the opened
// descriptor, so the file cannot be swapped between check and read.
// Returns the descriptor, or -1 for anything that is missing, unreadable or not regular.
int openRegularFile(const char* path);

// The same as a stdio stream for reading, or nullptr.
FILE* openRegularFileStream(const char* path);
