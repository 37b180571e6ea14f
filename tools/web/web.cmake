# The show for a web browser, built with Emscripten (emcmake cmake
# -DGFXCORE_WEB=ON; scripts/web.sh does it all): the show's core without the
# fixed-function device, the browser platform (platform/web) and the page,
# written into <build>/site together with the data set of a native build.
# The libraries (SDL2, libmpg123, FFmpeg, libjpeg, libpng, zlib) are static
# WebAssembly builds in GFXCORE_WEB_PREFIX (scripts/web-deps.sh).

if(NOT EMSCRIPTEN)
  message(FATAL_ERROR "GFXCORE_WEB needs the Emscripten toolchain: emcmake cmake -DGFXCORE_WEB=ON ...")
endif()

if(DEFINED ENV{GFXCORE_WEB_CACHE})
  set(GFXCORE_WEB_DEFAULT_PREFIX "$ENV{GFXCORE_WEB_CACHE}/prefix")
else()
  set(GFXCORE_WEB_DEFAULT_PREFIX "$ENV{HOME}/.cache/gfxcore-web/prefix")
endif()
set(GFXCORE_WEB_PREFIX "${GFXCORE_WEB_DEFAULT_PREFIX}" CACHE PATH "Where the web build's libraries are installed")
set(GFXCORE_WEB_DATA "" CACHE PATH "The data set the site ships (a native build's show/data)")

# Only the prefix's pkg-config files: never the host's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${GFXCORE_WEB_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
find_package(PkgConfig REQUIRED)
pkg_check_modules(WEB_LIBS REQUIRED sdl2 libmpg123 libavformat libavcodec libavutil libswscale libpng libjpeg zlib)

# clang's -Wall warns about a format that is not a literal even inside a
# template that forwards one (the shader text builder); gcc does not.
set(GFXCORE_WEB_WARNINGS ${GFXCORE_WARNINGS} -Wno-format-security)

file(GLOB GFXCORE_SOURCES CONFIGURE_DEPENDS
  kernel/*.cpp resources/*.cpp dgl/*.cpp geometry/*.cpp effects/*.cpp scenes/*.cpp imaging/*.cpp
  platform/*.cpp platform/gl_common/*.cpp platform/gles/*.cpp platform/sdl/*.cpp platform/media/*.cpp
  platform/recording/*.cpp platform/web/*.cpp)
add_library(gfxcore_core STATIC ${GFXCORE_SOURCES})
target_include_directories(gfxcore_core PUBLIC ${CMAKE_SOURCE_DIR} ${WEB_LIBS_INCLUDE_DIRS} ${GFXCORE_WEB_PREFIX}/include)
target_compile_options(gfxcore_core PRIVATE ${GFXCORE_WEB_WARNINGS})
set_source_files_properties(kernel/shell.cpp PROPERTIES COMPILE_DEFINITIONS
  "GFXCORE_FULLSCREEN=false;GFXCORE_START_OFFSET=0.0f")

set(GFXCORE_SITE_DIR ${CMAKE_BINARY_DIR}/site)
add_executable(gfxcore-web tools/web/main.cpp tools/web/web_options.cpp tools/capture/capture.cpp)
target_link_libraries(gfxcore-web PRIVATE gfxcore_core -L${GFXCORE_WEB_PREFIX}/lib ${WEB_LIBS_STATIC_LDFLAGS})
target_compile_options(gfxcore-web PRIVATE ${GFXCORE_WEB_WARNINGS})
# WebGL 2 only, without the emulation of ES 3 features WebGL lacks (client
# arrays, buffer mapping): the shader device needs none there. The data set is written
# into the in-memory file system by the page before main runs (FS from the
# page). tools/web/library.js keeps in what SDL's Web Audio backend calls
# from its inline JavaScript. No exit of the runtime: the page
# stays alive to show the end screen and offer the tap log.
target_link_options(gfxcore-web PRIVATE
  -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
  -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=134217728 -sTOTAL_STACK=8388608
  -sFORCE_FILESYSTEM=1 -sENVIRONMENT=web
  "-sEXPORTED_RUNTIME_METHODS=['FS','addRunDependency','removeRunDependency']"
  --js-library ${CMAKE_SOURCE_DIR}/tools/web/library.js
  -sEXIT_RUNTIME=0)
set_target_properties(gfxcore-web PROPERTIES OUTPUT_NAME gfxcore SUFFIX .js
  RUNTIME_OUTPUT_DIRECTORY ${GFXCORE_SITE_DIR} LINK_DEPENDS ${CMAKE_SOURCE_DIR}/tools/web/library.js)

# The page, and the data set as it is (no re-encoding) with the list the
# page fetches it by.
add_custom_command(TARGET gfxcore-web POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/tools/web/index.html
          ${CMAKE_SOURCE_DIR}/tools/web/page.js ${GFXCORE_SITE_DIR}/)
if(GFXCORE_WEB_DATA)
  add_custom_target(gfxcore-web-data ALL
    COMMAND ${CMAKE_COMMAND} -DDATA=${GFXCORE_WEB_DATA} -DSITE=${GFXCORE_SITE_DIR}
            -P ${CMAKE_SOURCE_DIR}/tools/web/copy_data.cmake
    COMMENT "Copying the data set into the site")
endif()
