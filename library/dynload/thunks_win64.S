/* Plain host entries for the Win64 ABI, one per PLAIN row of entries.def.
 *
 * An entry cannot know its host function's signature, so it forwards the
 * call untouched: it loads its slot into r11 (volatile, and never an
 * argument) and jumps through it, leaving every other register and the stack
 * alone.
 *
 * An unresolved slot sends the entry, with its slot number in r11, to
 * dynload_resolve_win64, which keeps the argument registers across the C++
 * resolver and then jumps on: rcx, rdx, r8, r9 and the low 128 bits of xmm0
 * to xmm3 (Win64 passes wider vectors by reference). The entries are leaf
 * code that never moves rsp, so they need no unwind data; the resolver's
 * frame is described for debuggers and crash reporters.
 *
 * When the lookup fails, the resolver returns to the entry's caller with
 * rax, rdx, xmm0 and xmm1 cleared: a zero integer, pointer, float, double or
 * 8-byte struct. A result returned in memory (any struct wider than 8 bytes,
 * and long double, through a hidden pointer that rax then does not hold) is
 * left undefined.
 *
 * The entries and the resolver begin with endbr64, as on Linux: a no-op
 * today, it keeps them valid targets for indirect branches on systems that
 * track them. */

        .text

/* On entry: r11d = slot; rsp = 8 mod 16; 8(%rsp)..39(%rsp) is the home
 * area that the entry's caller reserved for rcx, rdx, r8 and r9. */
        .p2align 4
        .def    dynload_resolve_win64; .scl 3; .type 32; .endef
        .seh_proc dynload_resolve_win64
dynload_resolve_win64:
        endbr64
        movq    %rcx, 8(%rsp)
        movq    %rdx, 16(%rsp)
        movq    %r8, 24(%rsp)
        movq    %r9, 32(%rsp)
        /* 32 bytes of shadow space for the resolver, 64 for xmm0..xmm3 and 8
         * to bring rsp to a multiple of 16 for the call. */
        subq    $104, %rsp
        .seh_stackalloc 104
        .seh_endprologue
        movaps  %xmm0, 32(%rsp)
        movaps  %xmm1, 48(%rsp)
        movaps  %xmm2, 64(%rsp)
        movaps  %xmm3, 80(%rsp)

        movl    %r11d, %ecx
        call    dynload_resolve
        movq    %rax, %r11

        movaps  32(%rsp), %xmm0
        movaps  48(%rsp), %xmm1
        movaps  64(%rsp), %xmm2
        movaps  80(%rsp), %xmm3
        movq    112(%rsp), %rcx
        movq    120(%rsp), %rdx
        movq    128(%rsp), %r8
        movq    136(%rsp), %r9
        testq   %r11, %r11
        jz      1f
        addq    $104, %rsp
        /* REX.W marks the jump as a tail-call epilogue to the Windows
         * unwinder, which recognises no other encoding of jmp *%r11. */
        rex64 jmp *%r11
        /* The lookup failed and has been reported: never call through null.
         * Clear the result registers rax, rdx, xmm0 and xmm1 and return to the
         * entry's caller. */
1:      xorl    %eax, %eax
        xorl    %edx, %edx
        xorps   %xmm0, %xmm0
        xorps   %xmm1, %xmm1
        addq    $104, %rsp
        ret
        .seh_endproc

.macro DYNLOAD_THUNK name, slot
        .globl  \name
        .def    \name; .scl 2; .type 32; .endef
        .p2align 4
\name:
        endbr64
        movq    dynload_slots+8*\slot(%rip), %r11
        testq   %r11, %r11
        jz      1f
        jmp     *%r11
1:      movl    $\slot, %r11d
        jmp     dynload_resolve_win64
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
