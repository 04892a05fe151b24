; Shows one picture on the TVC, waits for any key and returns to BASIC.
;
; Started by the BASIC line "1 X=USR(6655)" that comes before it in the program file; loaded
; right after that line, at 19FFh. What it shows follows the code at `settings`:
;   settings+0   the mode, for bits 1-0 of port 06h
;   settings+1   palette registers 0-3 (ports 60h-63h)
;   settings+5   the border colour (port 00h)
;   settings+6   the 15,360 bytes of video memory
; Everything lies below 8000h, so the program runs on a 32K TVC.

        org 19FFh

        include "tvc_program.inc"

start:
        TakeOverMachine
        ShowPicture
        call waitKey
        RestoreMachine
        ReturnToBasic

        ShowSettingsRoutine

; Waits until no key is held (the one that started the program may still be down), then until
; one is pressed. Not shared: the clip player's waitRelease is only the first half, as it
; watches for the press itself between frames.
waitKey:
        call anyKey
        jr nz,waitKey
pressed:
        call anyKey
        jr z,pressed
        ret

        AnyKeyRoutineAndStack

settings:
