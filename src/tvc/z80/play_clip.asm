; Plays a clip on a 64K TVC: frames stored as the bytes that changed, shown at the clip's frame
; rate, looping until any key is pressed; then returns to BASIC.
;
; Started by the BASIC line "1 X=USR(6655)" that comes before it in the program file; loaded
; right after that line, at 19FFh. After the code, at `settings`:
;   settings+0   the value for port 06h (the mode in bits 1-0)
;   settings+1   palette registers 0-3 (ports 60h-63h)
;   settings+5   the border colour (port 00h)
;   settings+6   the frame rate as numerator and denominator, 4 bytes each, low first (for
;                programs that read the file back; the player itself goes by the wait counts)
;   settings+14  the first record
; The file may reach up to page 2 (U2). Page 2 is where video RAM has to be while drawing, so
; U2's part of the program is first copied to U3, which then stays in page 3: the data the
; player reads lies at 19FFh-7FFFh and C000h-FFFFh.
;
; A record is either a frame or a jump:
;   frame:  a wait count W (2 bytes, low first, not FFFFh), then runs, then 00h 00h.
;           The player spends 10 + 64*W cycles waiting (W = 0: 20 cycles), then draws.
;           A run is SKIP, COUNT, then COUNT bytes: move SKIP bytes on in video memory, copy the
;           COUNT bytes there. COUNT 0 with SKIP 255 only moves on; SKIP 0 COUNT 0 ends the frame.
;   jump:   FFh FFh and the address where the next record is.
; Every cycle spent between the end of one frame and the end of the next is fixed by the
; records, with interrupts off, so the wait counts (worked out by the program that wrote the
; file) place each frame at its time. The cycle costs are written beside the instructions.

        org 19FFh

        include "tvc_program.inc"

start:
        TakeOverMachine
        and 1Fh
        or 0A0h                 ; U3 in page 3, U2 in page 2, page 0 as it was
        out (02h),a
        ld hl,8000h
        ld de,0C000h
        ld bc,4000h
        ldir
        and 0DFh                ; video RAM in page 2 (U3 stays in page 3)
        out (02h),a
        ld hl,8000h             ; the screen starts empty: frame 0 is stored against zeros
        ld de,8001h
        ld bc,3BFFh
        ld (hl),0
        ldir
        call showSettings
        call waitRelease
        ld hl,settings+14
        ld b,0

record:                         ; HL: a record; B = 0
        ld c,(hl)               ; 7
        inc hl                  ; 6
        ld b,(hl)               ; 7
        inc hl                  ; 6
        ld a,b                  ; 4
        and c                   ; 4
        inc a                   ; 4
        jr nz,wait              ; 12 / 7
        ld a,(hl)               ; 7   a jump
        inc hl                  ; 6
        ld h,(hl)               ; 7
        ld l,a                  ; 4
        jp record               ; 10
wait:
        ld a,b                  ; 4
        or c                    ; 4
        jr z,draw               ; 12 / 7
delay:
        dec bc                  ; 6
        ex (sp),hl              ; 19
        ex (sp),hl              ; 19
        ld a,b                  ; 4
        or c                    ; 4
        jr nz,delay             ; 12 / 7
draw:                           ; B = 0 here, as LDIR leaves it
        ld de,8000h             ; 10
run:
        ld a,(hl)               ; 7   SKIP
        inc hl                  ; 6
        ld c,(hl)               ; 7   COUNT
        inc hl                  ; 6
        add a,e                 ; 4
        ld e,a                  ; 4
        jr nc,noCarry           ; 12 / 7
        inc d                   ; 4
noCarry:
        inc c                   ; 4
        dec c                   ; 4
        jr z,noBytes            ; 12 / 7
        ldir                    ; 21 a byte, 16 the last
        jp run                  ; 10
noBytes:
        dec hl                  ; 6
        dec hl                  ; 6
        ld a,(hl)               ; 7
        inc hl                  ; 6
        inc hl                  ; 6
        or a                    ; 4
        jp nz,run               ; 10
        ; The frame is complete.
        push hl                 ; 11
        call anyKey             ; 17 + 666 with no key
        pop hl                  ; 10
        jr z,record             ; 12
        ; A key: leave as the picture program does.
        RestorePaging
        ReturnToBasic

        ShowSettingsRoutine

; Waits until no key is held: the key that started the program must not stop it at once.
; (The picture program's waitKey goes on to wait for the press; this one returns.)
waitRelease:
        call anyKey
        jr nz,waitRelease
        ret

        AnyKeyRoutineAndStack

settings:
