// Tells every top-level window that devices changed, as Windows does when a USB serial adapter
// comes or goes: WM_DEVICECHANGE with DBT_DEVNODES_CHANGED, broadcast. The smoke run sends it
// under Wine, which has no Plug and Play serial drivers to send it.
#include <windows.h>
#include <dbt.h>

#include <cstdio>

int main() {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG, 5000,
                           &result)) {
    std::fprintf(stderr, "post_device_change: the broadcast failed (%lu)\n", GetLastError());
    return 1;
  }
  return 0;
}
