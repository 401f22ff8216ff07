// LD_PRELOAD shim for the reference terminal in bench/sidebyside.sh. A PTY has no modem lines:
// TIOCMGET, TIOCMSET, TIOCMBIS and TIOCMBIC fail with ENOTTY, and Qt's serial port (CuteCom)
// then closes the port it has just opened. Here those four calls succeed where the kernel
// answers ENOTTY (TIOCMGET reporting DTR, RTS, CTS, DSR and CD up); every other call, and every
// call on a real serial port, goes to the C library unchanged. Not used for quarn.
#include <dlfcn.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdarg>

extern "C" int ioctl(int fd, unsigned long request, ...) {
  using Ioctl = int (*)(int, unsigned long, void*);
  static Ioctl real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  const int result = real(fd, request, arg);
  if (result == -1 && errno == ENOTTY &&
      (request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC)) {
    if (request == TIOCMGET && arg)
      *static_cast<int*>(arg) = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    errno = 0;
    return 0;
  }
  return result;
}
