# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Desktop integration (desktop entry, AppStream metainfo, icon theme files) and the Debian package.
# The executables install themselves from app/CMakeLists.txt; this file adds everything else and sets up CPack.

set(KRONVIK_APP_ID io.github.kronvik.Kronvik)
set(kronvik_res_dir ${PROJECT_SOURCE_DIR}/res)

install(FILES ${kronvik_res_dir}/${KRONVIK_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${kronvik_res_dir}/${KRONVIK_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${kronvik_res_dir}/kronvik.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The PNG renditions are drawn from kronvik.svg once and kept in the repository, so that building needs no
# SVG renderer.
foreach(size IN ITEMS 16 32 48 64 128 256)
    install(FILES ${kronvik_res_dir}/icons/hicolor/${size}x${size}/apps/kronvik.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages, compressed as Debian wants them; man reads them so from any prefix.
set(kronvik_man_pages ${PROJECT_SOURCE_DIR}/docs/man/kronvik-cli.1)
if(TARGET kronvik)
    list(APPEND kronvik_man_pages ${PROJECT_SOURCE_DIR}/docs/man/kronvik.1)
endif()
set(kronvik_compressed)
function(kronvik_gzip source output)
    # -n keeps the name and time out of the header, so that the package builds the same each time.
    add_custom_command(OUTPUT ${output}
        COMMAND sh -c "gzip -9n --stdout \"$1\" > \"$2\"" sh ${source} ${output}
        DEPENDS ${source} VERBATIM)
    set(kronvik_compressed ${kronvik_compressed} ${output} PARENT_SCOPE)
endfunction()
foreach(page IN LISTS kronvik_man_pages)
    get_filename_component(name ${page} NAME)
    kronvik_gzip(${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The copyright file in the machine-readable format and the package's changelog, where Debian policy puts
# them.
set(kronvik_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/kronvik)
kronvik_gzip(${kronvik_res_dir}/debian/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${kronvik_res_dir}/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
        DESTINATION ${kronvik_doc_dir})
add_custom_target(kronvik_compressed_docs ALL DEPENDS ${kronvik_compressed})

# Bash completion, where bash-completion looks for it: its completions folder, taken relative to its prefix
# so that it follows the install prefix (/usr for the package, /usr/local for a plain install).
set(kronvik_completions_dir ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
    pkg_get_variable(kronvik_bash_completion_prefix bash-completion prefix)
    pkg_get_variable(kronvik_bash_completions bash-completion completionsdir)
    if(kronvik_bash_completion_prefix AND kronvik_bash_completions MATCHES "^${kronvik_bash_completion_prefix}/")
        file(RELATIVE_PATH kronvik_completions_dir ${kronvik_bash_completion_prefix} ${kronvik_bash_completions})
    endif()
endif()
set(KRONVIK_BASH_COMPLETION_DIR ${kronvik_completions_dir} CACHE STRING
    "Where the bash completion of kronvik-cli is installed, relative to the install prefix")
install(FILES ${kronvik_res_dir}/bash-completion/kronvik-cli DESTINATION ${KRONVIK_BASH_COMPLETION_DIR})

# Debian package. dpkg-shlibdeps derives Depends from the installed executables (Exiv2, Qt, the C++ runtime);
# without it a minimal hand-written list stands in.
option(KRONVIK_DEB_SHLIBDEPS "Compute the Debian package's Depends with dpkg-shlibdeps" ON)
if(KRONVIK_DEB_SHLIBDEPS)
    find_program(KRONVIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
    if(NOT KRONVIK_DPKG_SHLIBDEPS)
        message(STATUS "dpkg-shlibdeps not found (package dpkg-dev): the Debian package gets a fixed Depends list")
        set(KRONVIK_DEB_SHLIBDEPS OFF)
    endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kronvik)
set(CPACK_PACKAGE_VENDOR "Kronvik developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kronvik developers <kronvik@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rename camera pictures after the moment they were taken")
# CPack puts the summary on the description's first line and indents the long text for the control file.
set(CPACK_PACKAGE_DESCRIPTION
    "Kronvik renames the JPEG pictures of camera folders after the date and time
recorded in their EXIF data, for example to 2005-07-14 09.03.27.JPG, and sets
each file's modification time to that moment. It can first shift the recorded
times by whole hours for a camera clock set to the wrong time zone. An existing
file is never replaced, and every action is written to a run log.

The package holds the window (kronvik) and the command-line tool (kronvik-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/StripPackagedPrograms.cmake)

set(CPACK_DEBIAN_PACKAGE_NAME kronvik)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision; res/debian/changelog's newest entry names the same version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kronvik developers <kronvik@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ${KRONVIK_DEB_SHLIBDEPS})
if(NOT KRONVIK_DEB_SHLIBDEPS)
    set(kronvik_deb_depends "libc6 (>= 2.36), libstdc++6 (>= 12), libexiv2-27 (>= 0.27), libsqlite3-0 (>= 3.40)")
    if(TARGET kronvik)
        string(APPEND kronvik_deb_depends ", libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4)")
    endif()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS ${kronvik_deb_depends})
endif()

include(CPack)
