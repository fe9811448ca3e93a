/* Plain host entries for the x86-64 System V ABI, one per PLAIN row of
 * entries.def.
 *
 * An entry cannot know its host function's signature, so it forwards the
 * call untouched: it loads its slot into r11 (a scratch register that carries
 * no argument) and jumps through it. rax is left alone, because it carries the
 * vector-register count of a variadic call, and so is the stack.
 *
 * An unresolved slot sends the entry, with its slot number in r11, to
 * dynload_resolve_sysv, which keeps the argument registers across the C++
 * resolver and then jumps on. It keeps rdi, rsi, rdx, rcx, r8, r9, rax (whose
 * %al counts a variadic call's vector registers), r10 and the low 128 bits of
 * xmm0 to xmm7. The upper halves of ymm and zmm registers are not saved: they
 * survive only because the resolver and the system's lookup do not touch
 * them, which a test checks for 256-bit arguments.
 *
 * When the lookup fails, the resolver returns to the entry's caller with
 * rax, rdx, xmm0 and xmm1 cleared: a zero integer, pointer, float, double or
 * two-register struct. A result returned in memory (a large struct, through
 * a hidden pointer that rax then does not hold) or on the x87 stack (long
 * double) is left undefined.
 *
 * Every entry and the resolver begin with endbr64, and the object carries the
 * GNU property note that marks it compatible with indirect branch tracking
 * and shadow stacks (cet.h emits both when the build asks for
 * -fcf-protection): renderers that enforce them load only such libraries.
 * Under a shadow stack all of it stays valid: an entry is reached by a call
 * and leaves by a jump, so the return address that both stacks hold is the
 * caller's; the resolver's own call returns normally; and its failure path
 * returns to the entry's caller, whose address is the one on both stacks. */
#include <cet.h>


        .text

/* On entry: r11d = slot; rsp = 8 mod 16 (the caller's return address). */
        .p2align 4
        .type   dynload_resolve_sysv, @function
dynload_resolve_sysv:
        .cfi_startproc
        _CET_ENDBR
        /* 128 bytes for xmm0..xmm7, 64 for the integer registers and 8 to
         * bring rsp to a multiple of 16 for the call. */
        subq    $200, %rsp
        .cfi_adjust_cfa_offset 200
        movaps  %xmm0, 0(%rsp)
        movaps  %xmm1, 16(%rsp)
        movaps  %xmm2, 32(%rsp)
        movaps  %xmm3, 48(%rsp)
        movaps  %xmm4, 64(%rsp)
        movaps  %xmm5, 80(%rsp)
        movaps  %xmm6, 96(%rsp)
        movaps  %xmm7, 112(%rsp)
        movq    %rax, 128(%rsp)
        movq    %rdi, 136(%rsp)
        movq    %rsi, 144(%rsp)
        movq    %rdx, 152(%rsp)
        movq    %rcx, 160(%rsp)
        movq    %r8, 168(%rsp)
        movq    %r9, 176(%rsp)
        movq    %r10, 184(%rsp)

        movl    %r11d, %edi
        call    dynload_resolve
        movq    %rax, %r11

        movaps  0(%rsp), %xmm0
        movaps  16(%rsp), %xmm1
        movaps  32(%rsp), %xmm2
        movaps  48(%rsp), %xmm3
        movaps  64(%rsp), %xmm4
        movaps  80(%rsp), %xmm5
        movaps  96(%rsp), %xmm6
        movaps  112(%rsp), %xmm7
        movq    128(%rsp), %rax
        movq    136(%rsp), %rdi
        movq    144(%rsp), %rsi
        movq    152(%rsp), %rdx
        movq    160(%rsp), %rcx
        movq    168(%rsp), %r8
        movq    176(%rsp), %r9
        movq    184(%rsp), %r10
        addq    $200, %rsp
        .cfi_adjust_cfa_offset -200

        testq   %r11, %r11
        jz      1f
        jmp     *%r11
        /* The lookup failed and has been reported: never call through null.
         * Clear the result registers rax, rdx, xmm0 and xmm1 and return to the
         * entry's caller. */
1:      xorl    %eax, %eax
        xorl    %edx, %edx
        xorps   %xmm0, %xmm0
        xorps   %xmm1, %xmm1
        ret
        .cfi_endproc
        .size   dynload_resolve_sysv, .-dynload_resolve_sysv

.macro DYNLOAD_THUNK name, slot
        .globl  \name
        .hidden \name
        .type   \name, @function
        .p2align 4
\name:
        .cfi_startproc
        _CET_ENDBR
        movq    dynload_slots+8*\slot(%rip), %r11
        testq   %r11, %r11
        jz      1f
        jmp     *%r11
1:      movl    $\slot, %r11d
        jmp     dynload_resolve_sysv
        .cfi_endproc
        .size   \name, .-\name
.endm

/* A row's slot is its position in the list: dynload_row counts the rows,
 * whatever their kind, as the C++ side numbers them. */
        .set    dynload_row, 0
#define MI_ENTRY(name, kind) MI_ENTRY_##kind(name); .set dynload_row, dynload_row + 1
#define MI_ENTRY_PLAIN(name) DYNLOAD_THUNK name, dynload_row
#define MI_ENTRY_MESSAGE(name)
#define MI_ENTRY_CODED_MESSAGE(name)
#define MI_ENTRY_VARARGS(name)
#include "library/dynload/entries.def"

        .section .note.GNU-stack, "", @progbits
