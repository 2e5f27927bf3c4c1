# FFmpeg's libraries behind the decoder: libavcodec (MPEG-4 Part 2), libswscale
# (colour conversion), libpostproc (deblocking and deringing), libavutil.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VIRAZAV_AV REQUIRED IMPORTED_TARGET libavcodec libavutil libswscale libpostproc)
add_library(virazav_core_deps INTERFACE)
target_link_libraries(virazav_core_deps INTERFACE PkgConfig::VIRAZAV_AV)
target_link_libraries(virazav_core PUBLIC virazav_core_deps)
