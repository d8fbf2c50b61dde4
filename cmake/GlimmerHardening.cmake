# SPDX-License-Identifier: GPL-3.0-or-later
# The hardening Debian builds its packages with (dpkg-buildflags' defaults,
# and bind-now from its "+all"), so that the programs and libraries we ship
# are built as a distribution would build them:
#
#   -D_FORTIFY_SOURCE=2             string and memory functions whose buffer
#                                   size is known at compile time check it
#                                   at run time (the __*_chk variants)
#   -fstack-protector-strong        a canary in every function with an
#                                   array or an address taken of a local
#   -Wformat -Werror=format-security  no printf with a format that is not a
#                                   literal and no arguments
#   -z relro -z now                 every symbol bound at start, then the
#                                   tables that held them made read-only
#
# Position-independent executables are the compiler's default on Debian.
# Fortify needs optimisation (glibc warns without it, and warnings are
# errors here), so a Debug build goes without it; the sanitizer builds go
# without all of it, as the sanitizers put their own checks on the same
# functions.
if(GLIMMER_SANITIZE OR GLIMMER_TSAN OR GLIMMER_FUZZ)
  return()
endif()
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security
  "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
add_link_options(LINKER:-z,relro LINKER:-z,now)
