# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Run by CPack on the package's staging folder, before the package is made: strips the programs as Debian's
# own packaging does (symbols, and the compiler's .comment and .note sections, which nothing reads).
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
    execute_process(COMMAND strip --remove-section=.comment --remove-section=.note --strip-unneeded
                            ${program}
                    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
