-- Watches a Pelorin program run in MAME's tvc64 driver under the stand-in ROM
-- (src/tvc/z80/standin_rom.asm) and writes what it saw; judging is left to tvc-mame-compare.
--
-- Given with -autoboot_script; told what to do by the environment:
--   PELORIN_MAME_OUT     the folder to write into (it exists)
--   PELORIN_MAME_FIELDS  how many fields to watch the program before pressing a key
--   PELORIN_MAME_EVERY   1 to keep every distinct state of video RAM seen at the end of a
--                        field (a clip); otherwise only the last one, with a screen snapshot
--
-- Files written, all into the folder:
--   vram.bin      the 15,360 shown bytes of video RAM, after the watched fields
--   states.bin    (PELORIN_MAME_EVERY) each state of those bytes that differs from the one
--                 before, one a field at most, in the order seen
--   screen.png    MAME's own snapshot of the screen, after the watched fields
--   record.txt    "name value" lines: the stand-in ROM's record of the return, and how the run
--                 went; written last, its final line "end 1"
-- MAME may crash on its way out after the last write; the files are what counts.

local outFolder = assert(os.getenv("PELORIN_MAME_OUT"), "PELORIN_MAME_OUT is not set")
local watchFields = tonumber(os.getenv("PELORIN_MAME_FIELDS") or "25")
local keepEvery = os.getenv("PELORIN_MAME_EVERY") == "1"

local machine = manager.machine
local cpuSpace = machine.devices[":maincpu"].spaces["program"]
local vram = machine.memory.shares[":vram"]
local screen = machine.screens[":screen"]
-- Enter: row 5, any key would do; the programs take any 0 bit of rows 0-9.
local keyField = machine.ioport.ports[":LINE.5"].fields["Enter"]

local kShownBytes = 15360
-- The stand-in ROM's record in U0 (see the ROM's header).
local kRecord = 0x0100

-- Fields allowed for each wait before the run is given up: the quickload comes after six
-- seconds of emulated time (300 fields), a key's release and the return within a second.
local kStartLimit = 600
local kReturnLimit = 50
local kKeyFields = 5
local kAfterReturn = 10

local notes = {}
local function note(name, value)
    notes[#notes + 1] = name .. " " .. tostring(value)
end

local function writeFile(name, bytes, mode)
    local file = assert(io.open(outFolder .. "/" .. name, mode or "wb"))
    file:write(bytes)
    file:close()
end

local function shownBytes()
    local parts = {}
    for offset = 0, kShownBytes - 1 do
        parts[#parts + 1] = vram:read_u8(offset)
    end
    -- string.char takes a limited number of arguments: in slices.
    local slices = {}
    for first = 1, #parts, 4096 do
        slices[#slices + 1] = string.char(table.unpack(parts, first, math.min(first + 4095, #parts)))
    end
    return table.concat(slices)
end

local function recordByte(offset) return cpuSpace:read_u8(kRecord + offset) end
local function recordWord(offset) return cpuSpace:read_u16(kRecord + offset) end

local function finish(reason)
    note("finished", reason)
    note("marker", recordByte(0))
    note("started", recordByte(1))
    note("returned", recordByte(2))
    note("paging_copy", recordByte(3))
    note("interrupts_on", recordByte(4))
    note("paged_back", recordByte(5))
    note("sp_after", recordWord(6))
    note("sp_before", recordWord(8))
    note("fields_at_return", recordWord(10))
    note("fields_now", recordWord(12))
    note("seconds", string.format("%.3f", machine.time:as_double()))
    note("end", 1)
    writeFile("record.txt", table.concat(notes, "\n") .. "\n")
    machine:exit()
end

local field = 0
local phase = "boot"
local phaseField = 0
local lastState = nil
local function enter(newPhase)
    phase = newPhase
    phaseField = field
end

emu.register_frame_done(function()
    if phase == "done" then
        return
    end
    field = field + 1
    local inPhase = field - phaseField
    if phase == "boot" then
        if recordByte(1) == 1 then
            note("started_at_field", field)
            enter("watch")
        elseif inPhase > kStartLimit then
            enter("done")
            finish("the program was never called")
        end
    elseif phase == "watch" then
        if keepEvery then
            local state = shownBytes()
            if state ~= lastState then
                writeFile("states.bin", state, "ab")
                lastState = state
            end
        end
        if inPhase >= watchFields then
            writeFile("vram.bin", shownBytes())
            screen:snapshot(outFolder .. "/screen.png")
            note("returned_before_key", recordByte(2))
            keyField:set_value(1)
            enter("key")
        end
    elseif phase == "key" then
        if inPhase >= kKeyFields then
            keyField:set_value(0)
            enter("return")
        end
    elseif phase == "return" then
        if recordByte(2) == 1 then
            note("returned_after_fields", inPhase)
            enter("after")
        elseif inPhase > kReturnLimit then
            enter("done")
            finish("no return after the key")
        end
    elseif phase == "after" and inPhase >= kAfterReturn then
        -- Some fields after the return, so that the field count shows the interrupt handler
        -- still running.
        enter("done")
        finish("returned")
    end
end)
