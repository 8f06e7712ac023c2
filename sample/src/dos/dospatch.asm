; dospatch.exe: the simplest patcher a test can check, as a DOS program
; (MZ, real mode, INT 21h only), for the installer's PIF route.
;
; In its current directory it reads PATCH.LST, one file name per line, and
; replaces each named file by the copy shipped beside it with the
; extension .NEW (WFCORE.DLL by WFCORE.NEW), byte for byte. It writes
; \DOSPATCH.LOG at the root of its drive, outside the directory the
; installer removes afterwards:
;
;   pif <program field> <start-up directory field>   or   pif missing
;   patched <name>                                    or   failed <name>
;
; The first line shows the PIF the installer started it through: the
; program name at offset 36 and the start-up directory at offset 101, read
; while the program runs. The exit code is 0 when every file was replaced.
;
; Assemble with: nasm -f bin -o dospatch.exe dospatch.asm

BUFSIZE  equ 4096
LISTSIZE equ 2048

section header start=0
        db 'MZ'
        dw (32 + image_size) % 512       ; bytes in the last page
        dw (32 + image_size + 511) / 512 ; pages, the last one partial
        dw 0                             ; relocations
        dw 2                             ; header paragraphs
        dw 0x1000                        ; extra paragraphs needed: 64 KB in all
        dw 0x1000                        ; and wanted
        dw 0, 0xFFFE                     ; SS:SP, relative to the image
        dw 0                             ; checksum
        dw start, 0                      ; CS:IP
        dw 0x1C                          ; relocation table (below 0x40: a DOS program)
        dw 0                             ; overlay
        times 32 - ($ - $$) db 0

section image follows=header vstart=0
start:  push cs
        pop ds
        push cs
        pop es
        cld
        mov ah, 0x3C                     ; create the log
        xor cx, cx
        mov dx, log_name
        int 0x21
        jc exit_failed
        mov [log], ax

        mov ax, 0x3D00                   ; the PIF, if there is one
        mov dx, pif_name
        int 0x21
        jc .no_pif
        mov bx, ax
        mov dx, 36
        mov di, program_field
        mov cx, 63
        call read_at
        mov dx, 101
        mov di, directory_field
        mov cx, 64
        call read_at
        mov ah, 0x3E
        int 0x21
        mov si, text_pif
        call log_text
        mov si, program_field
        call log_text
        mov si, text_blank
        call log_text
        mov si, directory_field
        call log_text
        mov si, text_eol
        call log_text
        jmp .list
.no_pif:
        mov si, text_no_pif
        call log_text

.list:  mov ax, 0x3D00                   ; the whole list, up to LISTSIZE bytes
        mov dx, list_name
        int 0x21
        jc exit_failed
        mov bx, ax
        mov ah, 0x3F
        mov cx, LISTSIZE - 1
        mov dx, list
        int 0x21
        jc exit_failed
        mov di, list
        add di, ax
        mov byte [di], 0
        mov ah, 0x3E
        int 0x21
        mov si, list

.line:  lodsb                            ; blanks and line ends between names
        or al, al
        jz .done
        cmp al, ' '
        jbe .line
        dec si
        mov di, target                   ; the name, up to the next blank
.name:  lodsb
        cmp al, ' '
        jbe .named
        stosb
        jmp .name
.named: dec si
        mov byte [di], 0
        push si
        mov si, target                   ; the source: the name with .NEW
        mov di, source
.stem:  lodsb
        or al, al
        jz .ext
        cmp al, '.'
        je .ext
        stosb
        jmp .stem
.ext:   mov si, text_new
.ext2:  lodsb
        stosb
        or al, al
        jnz .ext2
        call copy_file
        mov si, text_patched
        jnc .say
        mov byte [status], 1
        mov si, text_failed
.say:   call log_text
        mov si, target
        call log_text
        mov si, text_eol
        call log_text
        pop si
        jmp .line

.done:  mov ah, 0x3E
        mov bx, [log]
        int 0x21
        mov ah, 0x4C
        mov al, [status]
        int 0x21
exit_failed:
        mov ax, 0x4C02
        int 0x21

; read_at: CX bytes at offset DX of the file BX into DI, zero-terminated
; (the buffer holds CX + 1 bytes; a short read leaves zeros).
read_at:
        push cx
        push di
        mov ax, 0x4200
        xor cx, cx
        int 0x21
        pop dx
        pop cx
        mov di, dx
        add di, cx
        mov byte [di], 0
        mov ah, 0x3F
        int 0x21
        ret

; log_text: the zero-terminated text at SI into the log.
log_text:
        mov di, si
        xor al, al
        mov cx, 0xFFFF
        repne scasb
        not cx
        dec cx
        mov dx, si
        mov bx, [log]
        mov ah, 0x40
        int 0x21
        ret

; copy_file: source over target; carry set on any failure.
copy_file:
        mov ax, 0x3D00
        mov dx, source
        int 0x21
        jc .ret
        mov [input], ax
        mov ah, 0x3C
        xor cx, cx
        mov dx, target
        int 0x21
        jc .close_input
        mov [output], ax
.chunk: mov ah, 0x3F
        mov bx, [input]
        mov cx, BUFSIZE
        mov dx, buffer
        int 0x21
        jc .close_both
        or ax, ax
        jz .close_both                   ; carry clear: all copied
        mov cx, ax
        mov ah, 0x40
        mov bx, [output]
        int 0x21
        jc .close_both
        cmp ax, cx
        je .chunk
        stc                              ; a short write: the disk is full
.close_both:
        pushf
        mov ah, 0x3E
        mov bx, [output]
        int 0x21
        popf
.close_input:
        pushf
        mov ah, 0x3E
        mov bx, [input]
        int 0x21
        popf
.ret:   ret

log_name      db '\DOSPATCH.LOG', 0
pif_name      db 'PCPCWF.PIF', 0
list_name     db 'PATCH.LST', 0
text_pif      db 'pif ', 0
text_no_pif   db 'pif missing', 13, 10, 0
text_blank    db ' ', 0
text_eol      db 13, 10, 0
text_new      db '.NEW', 0
text_patched  db 'patched ', 0
text_failed   db 'failed ', 0
status        db 0
image_end:
image_size    equ image_end - start

; Beyond the image, in the memory the header asks for.
log             equ image_end
input           equ log + 2
output          equ input + 2
program_field   equ output + 2
directory_field equ program_field + 64
target          equ directory_field + 65
source          equ target + 128
list            equ source + 128
buffer          equ list + LISTSIZE
