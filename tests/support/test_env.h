// Setting and clearing environment variables in tests that also build for Windows, whose C
// runtime has no setenv.
#pragma once

#include <cstdlib>

inline int setTestEnv(const char* name, const char* value) {
#ifdef _WIN32
  return _putenv_s(name, value);
#else
  return setenv(name, value, 1);
#endif
}

inline void unsetTestEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes the variable there
#else
  unsetenv(name);
#endif
}
