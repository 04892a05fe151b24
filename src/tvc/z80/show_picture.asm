; Shows one picture on the TVC, waits for any key and returns to BASIC.
;
; Started by the BASIC line "1 X=USR(6655)" that comes before it in the program file; loaded
; right after that line, at 19FFh. What it shows follows the code at `settings`:
;   settings+0   the value for port 06h (the mode in bits 1-0)
;   settings+1   palette registers 0-3 (ports 60h-63h)
;   settings+5   the border colour (port 00h)
;   settings+6   the 15,360 bytes of video memory
; Everything lies below 8000h, so the program runs on a 32K TVC.

        org 19FFh

start:
        ; Interrupts stay off throughout: while video RAM takes page 2 nothing else may run.
        ; LD A,I copies the interrupt flip-flop into P/V, so the exit knows whether to enable
        ; them again.
        ld a,i
        di
        push af
        ; The caller's stack may lie in page 2, which video RAM is about to replace.
        ld (savedSp),sp
        ld sp,stackTop
        ; The system keeps a copy of what it last wrote to port 02h at 0003h.
        ld a,(0003h)
        ld (savedPaging),a
        and 0DFh                ; bit 5 clear: video RAM in page 2
        out (02h),a
        ld hl,settings+6
        ld de,8000h
        ld bc,3C00h
        ldir
        ld a,(savedPaging)
        out (02h),a             ; page 2 as it was
        call showSettings
        call waitKey
        ld sp,(savedSp)
        pop af
        ret po                  ; interrupts were off when called
        ei
        ret

; Mode, palette registers and border from `settings`.
showSettings:
        ld hl,settings
        ld a,(hl)
        out (06h),a
        inc hl
        ld bc,0460h             ; four registers from port 60h on
palette:
        ld a,(hl)
        out (c),a
        inc hl
        inc c
        djnz palette
        ld a,(hl)
        out (00h),a
        ret

; Waits until no key is held (the one that started the program may still be down), then until
; one is pressed.
waitKey:
        call anyKey
        jr nz,waitKey
pressed:
        call anyKey
        jr z,pressed
        ret

; NZ when a key of rows 0-9 is held: port 03h picks a row, port 58h reads it, 0 bits down.
anyKey:
        ld b,0
scanRow:
        ld a,b
        out (03h),a
        in a,(58h)
        cp 0FFh
        ret nz
        inc b
        ld a,b
        cp 10
        jr nz,scanRow
        xor a
        ret

savedSp:
        defw 0
savedPaging:
        defb 0
stack:
        defs 16
stackTop:

settings:
