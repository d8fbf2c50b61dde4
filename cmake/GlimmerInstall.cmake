# SPDX-License-Identifier: GPL-3.0-or-later
# Installation and the Debian package.
#
#   PREFIX/bin/glimmerbox, glimmerbox-fx      relative links into the
#                                             program's folder
#   PREFIX/lib/<triplet>/glimmerbox/          the two programs, the sound
#                                             libraries, the media plugin,
#                                             the preset voices
#   PREFIX/share/applications, icons/hicolor, metainfo, man/man1 (gzip'd)
#   PREFIX/share/doc/glimmerbox/              copyright, changelog.gz
#
# The programs find the libraries beside them through the run path $ORIGIN
# (the loader resolves it from the real file, not from the link in bin), and
# the window finds its preset voices and lame_enc in the same folder, as
# both programs find the media plugin.
#
# The folder is Debian's place for a program's private libraries,
# /usr/lib/<triplet>/<package> (the triplet as CMake found it for the
# compiler, x86_64-linux-gnu on amd64; plain lib/glimmerbox where the
# compiler names none). Our libraries are no one else's to link, so they stay
# off the loader's search path. Whenever cpack looks at the files for shared
# libraries (for dpkg-shlibdeps, a shlibs file or a debug package) it adds a
# postinst and a postrm running ldconfig for those in /usr/lib or a folder
# directly below it, as /usr/lib/glimmerbox was; ldconfig has nothing to do
# for private libraries, and lintian rejects the scripts
# (maintscript-calls-ldconfig). In their own folder below the triplet none is
# ever written, and the package needs no maintainer script at all. The
# programs and the preset voices stay in the same folder, as the programs
# look beside themselves for the rest; lintian only notes the executables
# there (executable-in-usr-lib, experimental and pedantic), and /usr/libexec
# would part them from the libraries they load.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(GLIMMER_PROGRAM_DIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/glimmerbox)
else()
  set(GLIMMER_PROGRAM_DIR lib/glimmerbox)
endif()
# Installing and packaging take the build as it is (build first): the
# package test runs cpack while the other tests run, and must not rebuild them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(program_targets glimmerbox-fx)
if(NOT GLIMMER_CORE_ONLY)
  list(PREPEND program_targets glimmerbox)
endif()
set_target_properties(${program_targets} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${program_targets} RUNTIME DESTINATION ${GLIMMER_PROGRAM_DIR})

# Relative links, made once in the build folder and installed as links.
set(link_folder ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${link_folder})
foreach(program ${program_targets})
  file(CREATE_LINK ../${GLIMMER_PROGRAM_DIR}/${program} ${link_folder}/${program} SYMBOLIC)
  install(FILES ${link_folder}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# The media plugin is loaded by both programs from their folder.
install(TARGETS glimmer_media LIBRARY DESTINATION ${GLIMMER_PROGRAM_DIR})

if(GLIMMER_CORE_ONLY)
  return()
endif()

# lame_enc is not linked: the program loads it from its own folder.
install(TARGETS glimmer_pulse sqwaveplayer tmmixlib tmwavmp3 lame_enc LIBRARY DESTINATION ${GLIMMER_PROGRAM_DIR})
install(FILES ${GLIMMER_PRESET_VOICES} DESTINATION ${GLIMMER_PROGRAM_DIR})

# cpack -G DEB: glimmerbox_<version>_<arch>.deb installing under /usr. Its
# Depends and Recommends are worked out when cpack runs, by the script
# configured here (cmake/GlimmerDebDepends.cmake.in): FFmpeg's libraries,
# which only the media plugin needs, are recommended, not required.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glimmerbox)
set(CPACK_PACKAGE_VENDOR Tamblor)
set(CPACK_PACKAGE_CONTACT "Glimmerbox developers <glimmerbox@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "voice recorder with funny and spooky effects")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Record a few seconds of speech, or open a sound file, switch on any of\n\
thirteen effects (echo, chorus, robot voice, flange, backward, fades,\n\
filters and sweeps, slow monster, fast squeaker) and a pitch shift, and\n\
play the result. Glimmerbox reads WAVE, AIFF, FLAC, Ogg Vorbis, Opus and\n\
MP3 files and, with FFmpeg's libraries installed, phone and browser\n\
recordings (M4A/AAC, WebM, AMR), RealAudio and the soundtrack of a video.\n\
The voice is saved with its effect selection; the processed clip can be\n\
exported as WAVE, MP3 or RealAudio.\n\
\n\
The command-line tool glimmerbox-fx runs the same effects over one file or\n\
a batch, reading what the program reads and writing WAVE, MP3, FLAC, Ogg\n\
Vorbis or RealAudio.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# No Homepage field: the project has no web site of its own to name.
# CPack's own dpkg-shlibdeps pass would make every library of the plugin a
# Depends; the script runs it with a field for each binary instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(glimmer_deb_required ${CMAKE_BINARY_DIR}/glimmerbox ${CMAKE_BINARY_DIR}/glimmerbox-fx)
foreach(library glimmer_pulse sqwaveplayer tmmixlib tmwavmp3 lame_enc)
  list(APPEND glimmer_deb_required
    ${CMAKE_BINARY_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}${library}${CMAKE_SHARED_LIBRARY_SUFFIX})
endforeach()
set(glimmer_deb_recommended
  ${CMAKE_BINARY_DIR}/${CMAKE_SHARED_LIBRARY_PREFIX}glimmer_media${CMAKE_SHARED_LIBRARY_SUFFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/GlimmerDebDepends.cmake.in ${CMAKE_BINARY_DIR}/GlimmerDebDepends.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/GlimmerDebDepends.cmake)
set(CPACK_STRIP_FILES ON)
include(CPack)
