#include <vector>

#include "driver/driver.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  corvane::platform::prepareConsole();
  std::vector<corvane::platform::Path> arguments(argv, argv + argc);
  return corvane::runCorvane(arguments);
}
