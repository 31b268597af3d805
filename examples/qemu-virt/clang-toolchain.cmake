# Bare-metal RV32IMAC with clang, linked by ld.lld (Debian packages clang and
# lld). ld.lld 14 cannot relax, so nothing is compiled for relaxation. clang
# 14 knows csrw and fence.i in plain rv32imac. ld.lld links only the script
# that mkld writes with -portable-script.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR riscv32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_ASM_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET riscv32-unknown-elf)
set(CMAKE_ASM_COMPILER_TARGET riscv32-unknown-elf)
set(CMAKE_OBJCOPY riscv64-unknown-elf-objcopy)
# There is no C library to link a test program with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(RV32_FLAGS "-march=rv32imac -mabi=ilp32 -mno-relax")
set(CMAKE_C_FLAGS_INIT "${RV32_FLAGS} -ffreestanding")
set(CMAKE_ASM_FLAGS_INIT "${RV32_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${RV32_FLAGS} -fuse-ld=lld -nostdlib")
