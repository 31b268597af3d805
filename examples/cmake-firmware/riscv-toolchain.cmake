# Bare-metal RV32IMAC with the Debian riscv64-unknown-elf cross compiler.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR riscv32)

set(CMAKE_C_COMPILER riscv64-unknown-elf-gcc)
set(CMAKE_ASM_COMPILER riscv64-unknown-elf-gcc)
# There is no C library to link a test program with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(RV32_FLAGS "-march=rv32imac -mabi=ilp32")
set(CMAKE_C_FLAGS_INIT "${RV32_FLAGS} -ffreestanding")
set(CMAKE_ASM_FLAGS_INIT "${RV32_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${RV32_FLAGS} -nostdlib -nostartfiles")
