#include <vector>

#include "driver/driver.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  corvane::platform::prepareConsole();
  corvane::platform::catchCancelSignals();
  std::vector<corvane::platform::Path> arguments(argv, argv + argc);
#ifdef CORVANE_SETTINGS_IN_USER_FOLDER
  return corvane::runCorvane(arguments, corvane::SettingsPlace::userFolder);
#else
  return corvane::runCorvane(arguments);
#endif
}
