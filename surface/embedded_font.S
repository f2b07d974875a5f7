/* The screen font's TrueType file, linked into the program as read-only data.
   QUORVANT_FONT_FILE is the file's path in quotes, given by the build. */

        .section .rodata
        .balign 16
        .globl  quorvant_embedded_font_start
        .hidden quorvant_embedded_font_start
        .type   quorvant_embedded_font_start, @object
quorvant_embedded_font_start:
        .incbin QUORVANT_FONT_FILE
        .globl  quorvant_embedded_font_end
        .hidden quorvant_embedded_font_end
        .type   quorvant_embedded_font_end, @object
quorvant_embedded_font_end:
        .byte   0
        .size   quorvant_embedded_font_start, quorvant_embedded_font_end - quorvant_embedded_font_start
        .size   quorvant_embedded_font_end, 1

/* No executable stack. */
        .section .note.GNU-stack,"",@progbits
