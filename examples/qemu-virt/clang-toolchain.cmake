# Bare-metal RV32IMAC with clang and picolibc, linked by ld.lld (Debian
# packages clang, lld and picolibc-riscv64-unknown-elf). ld.lld 14 cannot
# relax, so nothing is compiled for relaxation. The headers and the library
# are picolibc's, the compiler's helper routines those of the GCC cross
# compiler's libgcc. Thread-local variables are reached from tp with
# offsets the linker fixes (local-exec), as picolibc.specs asks of GCC.
# ld.lld links only the script that mkld writes with -portable-script.
# C++ builds without exceptions and RTTI.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR riscv32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_ASM_COMPILER clang)
foreach(language C CXX ASM)
  set(CMAKE_${language}_COMPILER_TARGET riscv32-unknown-elf)
endforeach()
# GNU objcopy would place an empty section by the address ld.lld runs it
# at, and write an image that reaches into RAM: llvm-objcopy keeps to the
# program headers.
set(CMAKE_OBJCOPY llvm-objcopy)
# A test program would need start-up code to link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(PICOLIBC /usr/lib/picolibc/riscv64-unknown-elf)
set(RV32_FLAGS "-march=rv32imac -mabi=ilp32 -mno-relax")
execute_process(COMMAND riscv64-unknown-elf-gcc -march=rv32imac -mabi=ilp32 -print-libgcc-file-name
  OUTPUT_VARIABLE LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
set(CMAKE_C_FLAGS_INIT "${RV32_FLAGS} -isystem ${PICOLIBC}/include -ftls-model=local-exec")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT} -fno-exceptions -fno-rtti")
set(CMAKE_ASM_FLAGS_INIT "${RV32_FLAGS}")
# No RELRO: nothing on a bare board protects it, and the program header
# ld.lld makes for it would run from flash into RAM, where objcopy then
# looks for the stored copy of .tdata.
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "${RV32_FLAGS} -fuse-ld=lld -nostdlib -L${PICOLIBC}/lib/rv32imac/ilp32 -Wl,--gc-sections -Wl,-z,norelro")
set(CMAKE_C_STANDARD_LIBRARIES "-Wl,--start-group -lc ${LIBGCC} -Wl,--end-group")
