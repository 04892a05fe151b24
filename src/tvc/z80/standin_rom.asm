; A stand-in for the TVC's system ROM, so that MAME's tvc64 driver can run Pelorin's programs
; without the machine's own (copyrighted) ROM. It is no BASIC: it sets the machine up the way
; BASIC leaves it when a program's `X=USR(6655)` runs, calls the program that MAME's quickload
; put at 19EFh, and notes for the test what the program left behind.
;
; The image is the driver's whole 16 KB system ROM region (its first and second 8 KB are the
; two ROM files). The processor starts here at 0000h with port 02h at 00h: this ROM in page 0,
; video RAM in page 2, the cartridge in page 3. The ROM is then moved to page 3 (C000h), where
; BASIC keeps it, so that RAM U0 can take page 0: everything from `boot` on runs at C000h + its
; assembled address, so jumps and tables there add `onPage3`.
;
; The record at 0100h in U0 (the test reads it through the processor's view of memory):
;   0100h  5Ah, planted before the call: still read there after it means U0 is in page 0
;   0101h  1 once the program has been called
;   0102h  1 once it has returned
;   0103h  the copy of port 02h at 0003h after the return (70h when the program restored it)
;   0104h  1 when interrupts were on after the return
;   0105h  1 when U0 and U2 were paged back in (their markers read back)
;   0106h  the stack pointer after the return (word)
;   0108h  the stack pointer the program was called with (word)
;   010Ah  fields counted by the interrupt handler up to the return (word)
;   010Ch  fields counted by the interrupt handler, always running (word)

onPage3         equ 0C000h
paging          equ 70h             ; page 0 U0, page 1 U1, page 2 U2, page 3 this ROM
pagingCopy      equ 0003h
port03Copy      equ 0B11h
port06Copy      equ 0B13h
programStart    equ 19EFh           ; where the quickload puts the program file's contents
codeStart       equ 19FFh           ; the address the program's BASIC line calls
basicStack      equ 0C000h          ; the stack grows down from the top of U2, as BASIC's may
u2Marker        equ 0BE00h          ; past the 15,360 bytes a picture fills in video RAM
markerValue     equ 5Ah

record          equ 0100h
recMarker       equ record+0
recStarted      equ record+1
recReturned     equ record+2
recPagingCopy   equ record+3
recInterrupts   equ record+4
recPagedBack    equ record+5
recSpAfter      equ record+6
recSpBefore     equ record+8
recFieldsAtEnd  equ record+0Ah
recFields       equ record+0Ch

; The video chip's registers R0-R15. A line is 100 characters of 2 cycles (200 cycles, 64 us),
; 64 of them shown: a byte of video RAM each. Four lines a character row (R9), 60 rows shown
; (240 lines), 78 rows and 2 lines (R4, R5) make 314 lines a field. The cursor at 0EFFh on
; its row's line 3 only (R10, R11, no blinking) is the last byte of line 239: the cursor
; output sets the field flag and raises the interrupt there.
        org 0000h
        di
        ld a,40h                ; page 3 shows this ROM as well; page 0 still does
        out (02h),a
        jp boot+onPage3

; Copied to 0038h of U0, the IM 1 handler: counts the field and clears the field flag (any
; write to port 07h does) before interrupts come back on. No jumps: it runs where it is copied.
handler:
        push af
        push hl
        ld hl,(recFields)
        inc hl
        ld (recFields),hl
        out (07h),a
        pop hl
        pop af
        ei
        reti
handlerEnd:

crtcRegisters:
        defb 99, 64, 80, 8      ; R0-R3: horizontal total - 1, shown, sync position and width
        defb 77, 2, 60, 68      ; R4-R7: vertical total - 1, adjust lines, rows shown, sync row
        defb 0, 3, 3, 3         ; R8-R11: no interlace, 4 lines a row, cursor lines 3 to 3
        defb 0, 0, 0Eh, 0FFh    ; R12-R15: picture start 0000h, cursor address 0EFFh

; The ports BASIC leaves set, each with the copy the system keeps of it.
port03Value     equ 00h         ; expansion slot 0, keyboard row 0
port06Value     equ 01h         ; "Graphics 4", no sound, printer strobe low

boot:
        ld a,paging
        out (02h),a
        ld (pagingCopy),a
        ld sp,basicStack
        ld hl,handler+onPage3
        ld de,0038h
        ld bc,handlerEnd-handler
        ldir
        ld hl,record
        ld b,10h
clearRecord:
        ld (hl),0
        inc hl
        djnz clearRecord
        ld a,markerValue
        ld (recMarker),a
        ld (u2Marker),a

        ld hl,crtcRegisters+onPage3
        ld bc,1000h             ; B: 16 registers, C: from R0 on
setCrtc:
        ld a,c
        out (70h),a
        ld a,(hl)
        out (71h),a
        inc hl
        inc c
        djnz setCrtc

        xor a
        out (04h),a             ; the sound generator off; bit 5 of port 05h clear, so only
        out (05h),a             ; the video chip raises the field flag
        ld a,port03Value
        out (03h),a
        ld (port03Copy),a
        ld a,port06Value
        out (06h),a
        ld (port06Copy),a
        out (07h),a             ; no field flag pending from before
        im 1
        ei

; MAME's quickload puts the program in RAM some seconds after the start; its machine code
; begins with a nonzero byte.
waitForProgram:
        ld a,(codeStart)
        or a
        jr z,waitForProgram
        ld (recSpBefore),sp
        ld a,1
        ld (recStarted),a
        call codeStart

        ld (recSpAfter),sp
        ld hl,(recFields)
        ld (recFieldsAtEnd),hl
; LD A,I copies the interrupt flip-flop to P/V, but reads it as off when an interrupt is
; taken during the instruction: on if either of two reads says so.
        ld a,i
        jp pe,interruptsOn+onPage3
        ld a,i
        jp pe,interruptsOn+onPage3
        xor a
        jr noteInterrupts
interruptsOn:
        ld a,1
noteInterrupts:
        ld (recInterrupts),a
        ld a,(pagingCopy)
        ld (recPagingCopy),a
        ld a,(recMarker)
        ld hl,u2Marker
        and (hl)
        cp markerValue
        ld a,0
        jr nz,notPagedBack
        inc a
notPagedBack:
        ld (recPagedBack),a
        ld a,1
        ld (recReturned),a
finished:
        halt
        jr finished

; The rest of the 16 KB region as an empty EPROM reads. The ROM's own byte at 0003h is not 70h
; and the one at 0100h not 5Ah, so neither reads as a program's correct result from here.
        defs 4000h-$,0FFh
