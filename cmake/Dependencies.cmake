# Libraries from Debian packages (scripts/install-deps.sh installs them), as imported targets.
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(CURL REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(TIFF REQUIRED)
find_package(GIF REQUIRED)
pkg_check_modules(PROJ REQUIRED IMPORTED_TARGET proj)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
pkg_check_modules(EXIF REQUIRED IMPORTED_TARGET libexif)
# 3D device: desktop OpenGL (GLVND's libOpenGL) on an EGL context of our own.
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
# Sound of the map's sound objects (platform/sound): OpenAL, with a null output of our own.
pkg_check_modules(OPENAL REQUIRED IMPORTED_TARGET openal)
find_package(GTest REQUIRED)
find_package(GDAL REQUIRED)
# exchange: spreadsheets (.xlsx written by libxlsxwriter, read with libzip and pugixml)
pkg_check_modules(XLSXWRITER REQUIRED IMPORTED_TARGET xlsxwriter)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET pugixml)
if(VELMORA_BENCH)
  find_package(benchmark QUIET)
endif()
# The desktop front end (src/frontend only) and its tests.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Test)

# What each folder links beyond the folders below it.
set(VELMORA_LIBS_platform Threads::Threads SQLite::SQLite3 PkgConfig::CAIRO PkgConfig::FONTCONFIG
    JPEG::JPEG PNG::PNG TIFF::TIFF GIF::GIF PkgConfig::EXIF OpenGL::OpenGL OpenGL::EGL
    PkgConfig::OPENAL)
set(VELMORA_LIBS_core CURL::libcurl PkgConfig::PROJ)

# Duktape (duktape-dev): the page scripts of the windows nobody sees (platform/script). Built from
# the source that the package ships, because the packaged library lacks two options we need: the
# execution-time check (a runaway page script fails its call instead of freezing the program) and
# the interrupt counter that drives it. The configuration header is the package's own with those
# two lines changed, and the source has its check interval shortened; a Duktape that does not
# have these lines stops the configuration.
set(VELMORA_DUKTAPE_SOURCE_DIR /usr/share/duktape CACHE PATH "folder of duktape.c, duktape.h and duk_config.h")
foreach(file duktape.c duktape.h duk_config.h)
  if(NOT EXISTS ${VELMORA_DUKTAPE_SOURCE_DIR}/${file})
    message(FATAL_ERROR "${VELMORA_DUKTAPE_SOURCE_DIR}/${file} is missing (install duktape-dev)")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELMORA_DUKTAPE_SOURCE_DIR}/${file})
endforeach()
set(velmora_duktape_dir ${PROJECT_BINARY_DIR}/duktape)
file(READ ${VELMORA_DUKTAPE_SOURCE_DIR}/duk_config.h velmora_duk_config)
foreach(option INTERRUPT_COUNTER EXEC_TIMEOUT_CHECK)
  string(FIND "${velmora_duk_config}" "\n#undef DUK_USE_${option}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "duk_config.h has no '#undef DUK_USE_${option}' line to turn on")
  endif()
endforeach()
string(REPLACE "\n#undef DUK_USE_INTERRUPT_COUNTER\n" "\n#define DUK_USE_INTERRUPT_COUNTER\n"
       velmora_duk_config "${velmora_duk_config}")
string(REPLACE "\n#undef DUK_USE_EXEC_TIMEOUT_CHECK\n"
       "\n#if defined(__cplusplus)\nextern \"C\"\n#endif\nint velmora_duk_exec_timeout(void *udata);\n#define DUK_USE_EXEC_TIMEOUT_CHECK(udata) velmora_duk_exec_timeout(udata)\n"
       velmora_duk_config "${velmora_duk_config}")
set(velmora_duk_config_old "")
if(EXISTS ${velmora_duktape_dir}/duk_config.h)
  file(READ ${velmora_duktape_dir}/duk_config.h velmora_duk_config_old)
endif()
if(NOT velmora_duk_config_old STREQUAL velmora_duk_config)
  file(WRITE ${velmora_duktape_dir}/duk_config.h "${velmora_duk_config}")
endif()
# The time check runs every 4096 bytecode instructions instead of every 262144, so that a call
# that ran out of memory (where every failed allocation costs garbage collections) ends soon.
file(READ ${VELMORA_DUKTAPE_SOURCE_DIR}/duktape.c velmora_duk_source)
set(velmora_duk_intctr "#define DUK_HTHREAD_INTCTR_DEFAULT (256L * 1024L)")
string(FIND "${velmora_duk_source}" "${velmora_duk_intctr}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "duktape.c has no '${velmora_duk_intctr}' line to change")
endif()
string(REPLACE "${velmora_duk_intctr}" "#define DUK_HTHREAD_INTCTR_DEFAULT (4L * 1024L)"
       velmora_duk_source "${velmora_duk_source}")
set(velmora_duk_source_old "")
if(EXISTS ${velmora_duktape_dir}/duktape.c)
  file(READ ${velmora_duktape_dir}/duktape.c velmora_duk_source_old)
endif()
if(NOT velmora_duk_source_old STREQUAL velmora_duk_source)
  file(WRITE ${velmora_duktape_dir}/duktape.c "${velmora_duk_source}")
endif()
unset(velmora_duk_source)
unset(velmora_duk_source_old)
# duktape.h includes "duk_config.h" from its own folder, so both headers and the source sit together.
configure_file(${VELMORA_DUKTAPE_SOURCE_DIR}/duktape.h ${velmora_duktape_dir}/duktape.h COPYONLY)
add_library(velmora_duktape STATIC ${velmora_duktape_dir}/duktape.c)
target_include_directories(velmora_duktape PUBLIC ${velmora_duktape_dir})
# Another project's source: its warnings are not ours to fix (and -Werror must not stop on them).
target_compile_options(velmora_duktape PRIVATE -w)
target_link_libraries(velmora_duktape PUBLIC m)
list(APPEND VELMORA_LIBS_platform velmora_duktape)
set(VELMORA_LIBS_exchange PkgConfig::XLSXWRITER PkgConfig::LIBZIP PkgConfig::PUGIXML)
set(VELMORA_LIBS_frontend Qt6::Widgets)

# The web views of pages people see (src/frontend/web_view): Qt WebEngine with its QWebChannel
# bridge (qt6-webengine-dev, qt6-webchannel-dev).
# They are a module of their own (velmora_web_views, in CMakeLists.txt), loaded on first use: the
# program itself does not link the web engine.
find_package(Qt6 REQUIRED COMPONENTS WebEngineCore WebEngineWidgets WebChannel)
