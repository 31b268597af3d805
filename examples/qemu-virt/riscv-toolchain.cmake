# Bare-metal RV32IMAC with the Debian riscv64-unknown-elf cross compiler and
# picolibc (package picolibc-riscv64-unknown-elf), linked by GNU ld.
# picolibc.specs adds picolibc's headers and library and --gc-sections; the
# start-up code is the program's own (-nostartfiles). The start-up code
# names the extensions that GNU as wants for csrw and fence.i itself, so
# the same -march works for clang. C++ builds without exceptions and RTTI,
# and needs no C++ library when linked by the C driver.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR riscv32)

set(CMAKE_C_COMPILER riscv64-unknown-elf-gcc)
set(CMAKE_CXX_COMPILER riscv64-unknown-elf-g++)
set(CMAKE_ASM_COMPILER riscv64-unknown-elf-gcc)
# A test program would need start-up code to link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(RV32_FLAGS "-march=rv32imac -mabi=ilp32 --specs=picolibc.specs")
set(CMAKE_C_FLAGS_INIT "${RV32_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${RV32_FLAGS} -fno-exceptions -fno-rtti")
set(CMAKE_ASM_FLAGS_INIT "${RV32_FLAGS}")
# The link line holds the compile flags, specs included. The function that
# runs from RAM shares a program header with data, which is meant: GNU ld
# need not warn about it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-nostartfiles -Wl,--no-warn-rwx-segments")
