/* The program's entry point, in place of the C library's start file.
 *
 * The start file of glibc 2.34 and later calls __libc_start_main at its new
 * version GLIBC_2.34, which no older glibc has, and on systems whose C
 * library is built without branch-tracking marks it also keeps the program
 * from being marked. This entry point does what that start file does, marked,
 * and calls the GLIBC_2.2.5 version, which every glibc since 2.2.5 has: so
 * ravelTint-check starts on the glibc 2.17 that the library supports. It
 * passes no init or fini function, as the newer start file does; both
 * versions accept that, and this program has no constructors to run. */
#include <cet.h>

        .symver libc_start_main_2_2_5, __libc_start_main@GLIBC_2.2.5

        .text
        .globl  _start
        .type   _start, @function
        .p2align 4
_start:
        .cfi_startproc
        .cfi_undefined rip
        _CET_ENDBR
        xorl    %ebp, %ebp              /* the outermost frame */
        movq    %rdx, %r9               /* rtld_fini, from the loader */
        popq    %rsi                    /* argc */
        movq    %rsp, %rdx              /* argv */
        andq    $~15, %rsp
        pushq   %rax                    /* keeps rsp aligned to 16 */
        pushq   %rsp                    /* stack_end */
        xorl    %r8d, %r8d              /* fini */
        xorl    %ecx, %ecx              /* init */
        movq    main@GOTPCREL(%rip), %rdi
        call    *libc_start_main_2_2_5@GOTPCREL(%rip)
        hlt                             /* __libc_start_main never returns */
        .cfi_endproc
        .size   _start, .-_start

        /* glibc's stdio reads this to tell current programs from ancient
         * ones, as every start file defines it. */
        .section .rodata
        .globl  _IO_stdin_used
        .type   _IO_stdin_used, @object
        .p2align 2
_IO_stdin_used:
        .long   0x20002
        .size   _IO_stdin_used, 4

        .section .note.GNU-stack, "", @progbits
