# The x86_64 slice of the macOS build; see macos-common.cmake.
set(QU_MACOS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/macos-common.cmake)
