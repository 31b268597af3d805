# Bare-metal RV32IMAC with the Debian riscv64-unknown-elf cross compiler,
# linked by GNU ld. GCC 12 with binutils 2.40 knows csrw and fence.i only
# with the Zicsr and Zifencei extensions named.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR riscv32)

set(CMAKE_C_COMPILER riscv64-unknown-elf-gcc)
set(CMAKE_ASM_COMPILER riscv64-unknown-elf-gcc)
# There is no C library to link a test program with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(RV32_FLAGS "-march=rv32imac_zicsr_zifencei -mabi=ilp32")
set(CMAKE_C_FLAGS_INIT "${RV32_FLAGS} -ffreestanding")
set(CMAKE_ASM_FLAGS_INIT "${RV32_FLAGS}")
# The function that runs from RAM shares a program header with data, which
# is meant: GNU ld need not warn about it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${RV32_FLAGS} -nostdlib -nostartfiles -Wl,--no-warn-rwx-segments")
