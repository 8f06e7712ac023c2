# libmspack, Debian's library for the Microsoft compression formats: winsim's
# LZ expansion reads SZDD through it, and the payload tests check our SZDD
# writer with it. Found through pkg-config, as the imported target
# PkgConfig::MSPACK, by the main build and the fuzz build alike.
include_guard(GLOBAL)
find_package(PkgConfig REQUIRED)
pkg_check_modules(MSPACK REQUIRED IMPORTED_TARGET libmspack)
