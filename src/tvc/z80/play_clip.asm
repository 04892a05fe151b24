; Plays a clip on a 64K TVC: frames stored packed, each as the changes from the frame before,
; shown at the clip's frame rate by the machine's own picture clock, looping until any key is
; pressed; then returns to BASIC.
;
; Started by the BASIC line "1 X=USR(6655)" that comes before it in the program file; loaded
; right after that line, at 19FFh. After the code, at `settings`:
;   settings+0   the mode, for bits 1-0 of port 06h
;   settings+1   palette registers 0-3 (ports 60h-63h)
;   settings+5   the border colour (port 00h)
;   settings+6   the frame rate as numerator and denominator, 4 bytes each, low first (for
;                programs that read the file back)
;   settings+14  fields a frame: 16.16 fixed point, 4 bytes, low first
;   settings+18  the first record
; The file may reach up to page 2 (U2). Page 2 is where video RAM has to be while drawing, so
; U2's part of the program is first copied to U3, which then stays in page 3: the data the
; player reads lies at 19FFh-7FFFh and C000h-FFFFh.
;
; The picture clock: the video chip raises a flag once a field (62,800 cycles, 49.76 a second),
; which port 59h shows as bit 4 low and a write to port 07h clears; it is latched, so it is seen
; with interrupts off. The player counts fields by it. Frame j is due at field j * (fields a
; frame), rounded, kept in a 16.16 sum so that the rate holds on average however the fields
; fall; the player waits for that field's flag and then draws, starting in the blanking after
; it, but never before the frame shown has been whole on the screen for a field. It looks at the flag between the commands of a frame too, so no field goes uncounted
; while it draws: a frame that takes longer than its time is late, and the next ones catch up.
; Nothing here depends on how long an instruction takes.
;
; A record is a frame: a lead byte, then commands. The lead's bits 6-0 are how many fields
; before its due field the frame's drawing starts, so that a frame that takes long to draw is
; complete near its time; bit 7 says the drawing goes on past the blanking after the flag, so
; the frame is whole on the screen only from the field after, and the next frame must wait one
; flag more. FFh in its place is a jump (the next two bytes are where the record is, low first).
; Each command is a SKIP byte (move SKIP bytes on in video memory) and a command byte:
;   00h                with SKIP 0, the end of the frame; otherwise a move of SKIP times 64
;                      bytes (whole lines), and no other.
;   01h-7Fh            that many bytes follow; copy them to the screen.
;   80h                the next two bytes are where the commands go on (a jump, low first).
;   81h-BFh  D         copy (command - 80h) + 2 bytes from D + 1 bytes back on the screen.
;   C0h-FFh  LO HI     copy (command - 0C0h) + 3 bytes from address HI LO of the screen.
; The copies run forward a byte at a time (LDIR), so a copy from just behind repeats a pattern.
; The screen itself is the dictionary: a dithered picture repeats every few bytes and lines.
; Frame 0 is stored against an empty screen, and after the last frame one more record takes
; the screen back to frame 0; a jump after it goes on with frame 1.

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
        ld hl,settings+19       ; frame 0, past its lead
        call drawFrame
        ; The clock starts at the first flag after frame 0 is on the screen.
        out (07h),a
waitFirst:
        in a,(59h)
        and 10h
        jr nz,waitFirst
        out (07h),a
        ld (nextRecord),hl
        ld hl,0
        ld (fields),hl
        ld (drawnAt),hl
        ld a,1                  ; frame 0 was complete before this flag
        ld (flagsShown),a
        ld (dueWhole),hl
        ld hl,8000h             ; half a field: due fields are rounded
        ld (dueFraction),hl

shown:                          ; a frame is on the screen
        call anyKey
        jr nz,leave
        ld hl,(dueFraction)
        ld de,(settings+14)
        add hl,de
        ld (dueFraction),hl
        ld hl,(dueWhole)
        ld de,(settings+16)
        adc hl,de
        ld (dueWhole),hl
        ex de,hl                ; DE: the field the next frame is due at
        ld hl,(nextRecord)
readLead:
        ld a,(hl)
        inc hl
        cp 0FFh
        jr nz,lead
        ld a,(hl)               ; a jump to the record
        inc hl
        ld h,(hl)
        ld l,a
        jr readLead
lead:
        ld (nextRecord),hl
        ld l,a
        rla                     ; bit 7: the flags this frame must stay whole for
        ld a,1
        adc a,0
        ld (flagsAfter),a
        res 7,l
        ld h,0
        ex de,hl
        or a
        sbc hl,de
        ex de,hl
waitDue:                        ; DE: the field the next frame's drawing starts at
        call countField
        ld hl,(fields)
        or a
        sbc hl,de
        jp m,waitDue
        ld hl,(fields)          ; and not before the frame shown has been whole on the
        ld bc,(drawnAt)         ; screen for a field
        or a
        sbc hl,bc
        ld a,h
        or a
        jr nz,draw
        ld a,(flagsShown)
        dec a
        cp l
        jr nc,waitDue
draw:
        ld a,(flagsAfter)
        ld (flagsShown),a
        ld hl,(nextRecord)
        call drawFrame
        ld (nextRecord),hl
        ld hl,(fields)
        ld (drawnAt),hl
        jr shown

leave:                          ; a key: leave as the picture program does
        RestoreMachine
        ReturnToBasic

; Draws the record at HL; returns HL just past its end.
drawFrame:
        ld de,8000h
command:
        call countField
        ld a,(hl)               ; SKIP
        inc hl
        ld c,(hl)               ; the command
        inc hl
        inc c
        dec c
        jr z,moveOrEnd
        add a,e
        ld e,a
        jr nc,typed
        inc d
typed:
        ld a,c
        or a
        jp m,copy
        ld b,0                  ; bytes that follow
        ldir
        jp command
moveOrEnd:
        or a
        ret z                   ; 00h 00h: the frame is complete
        push hl                 ; a move of SKIP lines of 64 bytes
        ld l,a
        ld h,0
        add hl,hl
        add hl,hl
        add hl,hl
        add hl,hl
        add hl,hl
        add hl,hl
        add hl,de
        ex de,hl
        pop hl
        jp command
copy:
        sub 0C0h
        jr nc,far
        add a,40h
        jr z,jump
        add a,2
        ld c,a
        ld a,(hl)               ; the distance less 1
        inc hl
        push hl
        cpl                     ; 256 - distance: HL = DE - distance
        add a,e
        ld l,a
        ld a,d
        adc a,0FFh
        ld h,a
        ld b,0
        ldir
        pop hl
        jp command
far:
        add a,3
        ld c,a
        ld a,(hl)
        inc hl
        ld b,(hl)
        inc hl
        push hl
        ld l,a
        ld h,b
        ld b,0
        ldir
        pop hl
        jp command
jump:
        ld a,(hl)
        inc hl
        ld h,(hl)
        ld l,a
        jp command

; Counts a field when its flag is up, and clears the flag. Uses A.
countField:
        in a,(59h)
        and 10h
        ret nz
        out (07h),a
        push hl
        ld hl,(fields)
        inc hl
        ld (fields),hl
        pop hl
        ret

        ShowSettingsRoutine

; Waits until no key is held: the key that started the program must not stop it at once.
; (The picture program's waitKey goes on to wait for the press; this one returns.)
waitRelease:
        call anyKey
        jr nz,waitRelease
        ret

fields:
        defw 0
dueFraction:
        defw 0
dueWhole:
        defw 0
nextRecord:
        defw 0
drawnAt:                        ; the field count when the frame shown was complete
        defw 0
flagsShown:                     ; the flags after drawnAt it must stay whole for
        defb 1
flagsAfter:                     ; the same for the frame about to be drawn
        defb 1

        AnyKeyRoutineAndStack

settings:
