find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavformat libavutil)
pkg_check_modules(X264 REQUIRED IMPORTED_TARGET x264)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)

# Debian's libyuv ships no pkg-config file.
find_path(LIBYUV_INCLUDE_DIR libyuv.h REQUIRED)
find_library(LIBYUV_LIBRARY yuv REQUIRED)
add_library(libyuv::libyuv UNKNOWN IMPORTED)
set_target_properties(libyuv::libyuv PROPERTIES
  IMPORTED_LOCATION ${LIBYUV_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${LIBYUV_INCLUDE_DIR})

find_package(GTest REQUIRED)
if(VINDREL_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network Test)
endif()
if(VINDREL_BENCH)
  find_package(benchmark REQUIRED)
endif()
