# ALSA's libasound behind the audio output device (src/platform/posix/audio_alsa_posix.cc).
find_package(PkgConfig REQUIRED)
pkg_check_modules(VIRAZAV_ALSA REQUIRED IMPORTED_TARGET alsa)
if(NOT TARGET virazav_core_deps)
  add_library(virazav_core_deps INTERFACE)
  target_link_libraries(virazav_core PUBLIC virazav_core_deps)
endif()
target_link_libraries(virazav_core_deps INTERFACE PkgConfig::VIRAZAV_ALSA)
