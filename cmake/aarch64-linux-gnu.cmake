# Cross-builds the Linux executable for arm64 with Debian's crossbuild-essential-arm64; tests run
# under user-mode emulation (qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Debian's multiarch folders: libgtest-dev:arm64 installs into /usr/lib/aarch64-linux-gnu, beside
# headers in /usr/include that every architecture shares. The C library and the C++ runtime to
# link with come with the cross compiler, under /usr/aarch64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# ctest, and the tests that start the tool, run arm64 programs through the emulator. They run on
# Debian's arm64 runtime (libc6:arm64, libstdc++6:arm64), as a board has it, found from / as it
# would be there. The cross compiler's copy under /usr/aarch64-linux-gnu has no character set
# converters, which the console texts need, and -L /usr/aarch64-linux-gnu beside the multiarch
# runtime would load that copy's loader with the other C library.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
