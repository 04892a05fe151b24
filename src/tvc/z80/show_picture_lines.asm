; Shows one picture on the TVC whose palette registers change from line to line, until any key
; is pressed; then returns to BASIC.
;
; Started by the BASIC line "1 X=USR(6655)" that comes before it in the program file; loaded
; right after that line, at 19FFh. What it shows follows the code at `settings`:
;   settings+0      the mode, for bits 1-0 of port 06h
;   settings+1      palette registers 0-3 of line 0 (ports 60h-63h)
;   settings+5      the border colour (port 00h)
;   settings+6      the 15,360 bytes of video memory
;   settings+15366  the line table: for each of lines 1-239 in turn, the address of the
;                   routine that rewrites k registers before it (`lineHandlers` below lists
;                   them for k = 0-3), then k pairs of bytes, a port (60h-63h) and its
;                   value; after line 239's, the address of `nextField`.
; Everything lies below 8000h, so the program runs on a 32K TVC.
;
; The picture clock: a field is 314 lines of 200 cycles (62,800). The video chip's flag (port
; 59h bit 4 low, cleared by a write to port 07h) comes up at the end of line 239, 74 lines
; (14,800 cycles) before line 0's visible part starts; each line shows 128 cycles and then
; leaves 72 for the horizontal blanking and the border. Every field the program waits for the
; flag, then counts cycles: each register write has to land in the blanking before its line.
; The wait polls the flag once in 27 cycles, so the program knows where the field starts only
; to within 26 cycles; every write is placed so that it keeps clear of the visible part by a
; character (2 cycles) on either side for any of those 27 starts.
;
; The lines run from the table with SP as its pointer (interrupts stay off): each routine ends
; with RET, which takes the next line's routine from the table, and the POPs that follow take
; its ports and values. Each routine takes exactly 200 cycles, its RET included, and puts the
; middle of its writes at the same cycle of the line (57 cycles after it is entered), so that
; three writes 16 cycles apart keep 5 cycles from either edge of the blanking. No code or data
; lies in video RAM, whose accesses wait for the video chip.
;
; Cycle counts are given as ";  T" after an instruction; "T/t" is a branch taken / not taken.

        org 19FFh

        include "tvc_program.inc"

start:
        TakeOverMachine
        ShowPicture
waitRelease:                    ; the key that started the program may still be down
        call anyKey
        jr nz,waitRelease
        ; A flag raised before now came at an unknown time: clear it and time the first field
        ; from the next.
        out (07h),a

; From here on the cycles are counted, from the moment the IN below reads the flag up: 8 cycles
; into the instruction, at T2 of its input cycle (the processor samples the port a cycle or two
; later; the margins below absorb that).
nextField:
        ld b,10h                ;  7
waitFlag:
        in a,(59h)              ; 11  the flag read 8 cycles in
        and b                   ;  4
        jr nz,waitFlag          ; 12/7
                                ; 14 since the read
        out (07h),a             ; 11  25
        ; Line 0's registers, in the vertical blanking.
        ld hl,settings+1        ; 10
        ld bc,0460h             ; 10
line0:
        ld a,(hl)               ;  7
        out (c),a               ; 12
        inc hl                  ;  6
        inc c                   ;  4
        djnz line0              ; 13/8  3 * 42 + 37 = 163, with the loads 183: 208
        ; Any key, every row, in a constant time.
        ld a,(savedPort03)      ; 13
        and 0C0h                ;  7
        ld c,a                  ;  4
        ld de,0AFFh             ; 10  10 rows; E gathers their bits
keyRows:
        ld a,c                  ;  4
        out (03h),a             ; 11
        in a,(58h)              ; 11
        and e                   ;  4
        ld e,a                  ;  4
        inc c                   ;  4
        dec d                   ;  4
        jr nz,keyRows           ; 12/7  9 * 54 + 49 = 535, with the set-up 569: 777
        inc e                   ;  4  FFh, no key down, becomes 0
        jr nz,keyPressed        ;  7  788
        ; Up to line 1's routine, entered 14,894 cycles after the read, so that its writes'
        ; middle, 57 cycles further, comes 14,951 cycles after it. Line 1 shows from 15,000
        ; cycles after the flag; with the flag 13 cycles before the read (the middle of the 27
        ; cycles it may have come in) that is 14,987 after the read, and the middle of the
        ; blanking before it 36 cycles earlier: 14,951.
        ld bc,541               ; 10
fieldWait:
        dec bc                  ;  6
        ld a,b                  ;  4
        or c                    ;  4
        jr nz,fieldWait         ; 12/7  10 + 541 * 26 − 5 = 14,071: 14,859
        ld a,0                  ;  7
        nop                     ;  4
        nop                     ;  4  14,874
        ld sp,lineTable         ; 10
        ret                     ; 10  14,894: line 1's routine

; The line routines. Each is entered by the RET of the one before (or of the field's start) and
; takes 200 cycles to the end of its own RET. An OUT (C),r puts its byte on the port in the
; I/O cycle after its two opcode fetches; the port latches it as the write ends, in T3, 11
; cycles into the instruction. So the
; writes land 57 cycles into each routine (one), at 49 and 65 (two), at 41, 57 and 73 (three).
; POP BC gives C the port and B the value; the second and third writes take their ports from E
; and L, one LD C,r (4 cycles) after the write before.
noChange:
        ld a,11                 ;  7
noChangeWait:
        dec a                   ;  4
        jr nz,noChangeWait      ; 12/7  7 + 11 * 16 − 5 = 178
        nop                     ;  4
        nop                     ;  4
        nop                     ;  4  190
        ret                     ; 10  200

oneChange:
        pop bc                  ; 10
        jr $+2                  ; 12
        jr $+2                  ; 12
        jr $+2                  ; 12  46
        out (c),b               ; 12  written at 57; 58
        ld a,7                  ;  7
oneChangeWait:
        dec a                   ;  4
        jr nz,oneChangeWait     ; 12/7  7 + 7 * 16 − 5 = 114: 172
        ld a,0                  ;  7
        ld a,0                  ;  7
        nop                     ;  4  190
        ret                     ; 10  200

twoChanges:
        pop bc                  ; 10
        pop de                  ; 10
        ld a,0                  ;  7
        ld a,0                  ;  7
        nop                     ;  4  38
        out (c),b               ; 12  written at 49
        ld c,e                  ;  4
        out (c),d               ; 12  written at 65; 66
        ld a,7                  ;  7
twoChangesWait:
        dec a                   ;  4
        jr nz,twoChangesWait    ; 12/7  114: 180
        jp $+3                  ; 10  190
        ret                     ; 10  200

threeChanges:
        pop bc                  ; 10
        pop de                  ; 10
        pop hl                  ; 10  30
        out (c),b               ; 12  written at 41
        ld c,e                  ;  4
        out (c),d               ; 12  written at 57
        ld c,l                  ;  4
        out (c),h               ; 12  written at 73; 74
        ld a,6                  ;  7
threeChangesWait:
        dec a                   ;  4
        jr nz,threeChangesWait  ; 12/7  7 + 6 * 16 − 5 = 98: 172
        ld a,0                  ;  7
        ld a,0                  ;  7
        nop                     ;  4  190
        ret                     ; 10  200

keyPressed:
        RestoreMachine
        ReturnToBasic

        ShowSettingsRoutine

        AnyKeyRoutineAndStack

; The routines a line table names, by the number of registers they write, and where the table
; ends: the writer of the file reads these addresses here, just before the settings.
lineHandlers:
        defw noChange, oneChange, twoChanges, threeChanges, nextField

settings:
lineTable equ settings+6+15360
