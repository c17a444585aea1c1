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
set(VELMORA_LIBS_exchange PkgConfig::XLSXWRITER PkgConfig::LIBZIP PkgConfig::PUGIXML)
set(VELMORA_LIBS_frontend Qt6::Widgets)
