#include "tvc_read.h"

#include "clip_pack.h"
#include "earlier_programs.h"
#include "kep_extended.h"

#include "convert/palette.h"
#include "convert/tvc_colours.h"
#include "pipeline/vram.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <numeric>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace pelorin::tvc {

namespace {

    constexpr size_t kBasicBytes = 16; // the line "1 X=USR(6655)" and the end mark
    constexpr size_t kRegionOneEnd = 0x8000;
    constexpr size_t kRegionTwoShift = 0x4000;
    // The headers and a program of at most 65,535 bytes, padded to whole 128-byte blocks.
    constexpr uint64_t kMostCasBytes = kCasHeaderBytes + 0xFFFF + 128;

    std::string Hex(unsigned value)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%02Xh", value);
        return text;
    }

    std::string Hex4(unsigned value)
    {
        char text[12];
        std::snprintf(text, sizeof text, "%04Xh", value & 0xFFFFu);
        return text;
    }

    const TvcMode* ModeOfFlag(uint8_t bits)
    {
        for (const TvcMode& mode : TvcModes())
            if (ModePortValue(mode) == bits)
                return &mode;
        return nullptr;
    }

    // What a .cas holds when it is not a program of ours, for the message.
    std::string DescribeForeignProgram(std::span<const uint8_t> program)
    {
        size_t lines = 0, at = 0;
        uint16_t firstLine = 0;
        while (at < program.size() && program[at] != 0 && lines < 10000) {
            const size_t length = program[at];
            if (length < 4 || at + length > program.size())
                break;
            if (lines == 0)
                firstLine = uint16_t(program[at + 1] | program[at + 2] << 8);
            ++lines;
            at += length;
        }
        if (lines == 0)
            return "a program of " + std::to_string(program.size()) + " bytes with no BASIC line";
        return "a BASIC program of " + std::to_string(lines) + (lines == 1 ? " line" : " lines")
            + " (the first numbered " + std::to_string(firstLine) + ") in "
            + std::to_string(program.size()) + " bytes";
    }

    // A .kep's or a picture .cas's one frame, or a .vram given as bytes.
    class FramesInMemory : public TvcFrames {
    public:
        explicit FramesInMemory(std::vector<uint8_t> bytes)
            : m_bytes(std::move(bytes))
        {
        }
        size_t Count() const override { return m_bytes.size() / kVramFrameBytes; }
        void Read(size_t index, std::vector<uint8_t>& vram) const override
        {
            const auto from = m_bytes.begin() + ptrdiff_t(index * kVramFrameBytes);
            vram.assign(from, from + ptrdiff_t(kVramFrameBytes));
        }

    private:
        std::vector<uint8_t> m_bytes;
    };

    // A clip's frames as its records: frame k is the screen kept for the last multiple of
    // kClipSnapshotFrames at or before k, with the records after it drawn over it.
    class ClipFrames : public TvcFrames {
    public:
        std::vector<uint8_t> program;
        std::vector<size_t> records; // where each frame's commands start in the program
        std::vector<std::vector<uint8_t>> snapshots;
        std::function<size_t(uint16_t)> jumpTarget;
        bool packed = true; // else plain runs, as the first clip player drew them

        size_t Count() const override { return records.size(); }
        void Read(size_t index, std::vector<uint8_t>& vram) const override
        {
            const size_t base = index / kClipSnapshotFrames;
            vram = snapshots.at(base);
            // Every record was drawn once when the clip was read: none can fail now.
            for (size_t k = base * kClipSnapshotFrames + 1; k <= index; ++k)
                DrawRecord(records.at(k), vram);
        }
        // Draws the record whose commands start at `at`; returns the offset past its end.
        size_t DrawRecord(size_t at, std::vector<uint8_t>& screen) const
        {
            return packed ? DrawPacked(program, at, screen, jumpTarget) : DrawRuns(at, screen);
        }

    private:
        // The first player's records: runs of SKIP, COUNT and COUNT bytes, until 00h 00h.
        size_t DrawRuns(size_t at, std::vector<uint8_t>& screen) const
        {
            size_t cursor = 0;
            for (;;) {
                if (at + 2 > program.size())
                    throw PackedFrameError("a record runs past the end of the file");
                const size_t skip = program[at], count = program[at + 1];
                at += 2;
                if (skip == 0 && count == 0)
                    return at;
                cursor += skip;
                if (at + count > program.size())
                    throw PackedFrameError("a record runs past the end of the file");
                if (cursor + count > screen.size())
                    throw PackedFrameError("a run past the end of video memory");
                std::copy_n(program.begin() + ptrdiff_t(at), count,
                    screen.begin() + ptrdiff_t(cursor));
                cursor += count;
                at += count;
            }
        }
    };

    // A .vram on disk, read a frame at a time: a file of many frames costs what is shown.
    class FramesOnDisk : public TvcFrames {
    public:
        FramesOnDisk(int fd, size_t count, std::string name)
            : m_fd(fd)
            , m_count(count)
            , m_name(std::move(name))
        {
        }
        ~FramesOnDisk() override { ::close(m_fd); }
        FramesOnDisk(const FramesOnDisk&) = delete;
        FramesOnDisk& operator=(const FramesOnDisk&) = delete;
        size_t Count() const override { return m_count; }
        void Read(size_t index, std::vector<uint8_t>& vram) const override
        {
            vram.resize(kVramFrameBytes);
            size_t done = 0;
            const off_t at = off_t(index * kVramFrameBytes);
            while (done < kVramFrameBytes) {
                const ssize_t got
                    = ::pread(m_fd, vram.data() + done, kVramFrameBytes - done, at + off_t(done));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    throw TvcFileError("cannot read frame " + std::to_string(index) + " of '"
                        + m_name + "': "
                        + (got < 0 ? std::string(std::strerror(errno))
                                   : std::string("the file is shorter than when it was opened")));
                done += size_t(got);
            }
        }

    private:
        int m_fd;
        size_t m_count;
        std::string m_name;
    };

    // A .kep's first four bytes; returns the mode its flag byte names.
    const TvcMode* CheckKepStart(std::span<const uint8_t> bytes, const std::string& name)
    {
        if (bytes.size() < 4 || bytes[0] != 'K' || bytes[1] != 'E' || bytes[2] != 'P')
            throw TvcFileError("'" + name + "' is no TVC picture file: it does not start with KEP");
        const uint8_t flag = bytes[3];
        if (!IsExtendedKepFlag(flag) && (flag & 0xFC) != 0)
            throw TvcFileError("'" + name + "' is a TVC picture file with flag byte " + Hex(flag)
                + ", which announces neither the plain form (bits 7-2 clear) nor the extended "
                  "header (one of bits 4-2 set)");
        const TvcMode* mode = ModeOfFlag(flag & 3);
        if (mode == nullptr)
            throw TvcFileError("'" + name + "' names mode 3 in its flag byte, which the TVC lacks");
        return mode;
    }

    void CheckCasStart(std::span<const uint8_t> bytes, const std::string& name)
    {
        if (bytes.empty() || bytes[0] != 0x11)
            throw TvcFileError("'" + name + "' is no TVC program file"
                + (bytes.empty() ? std::string(": it is empty")
                                 : ": its first byte is " + Hex(bytes[0]) + ", not 11h"));
    }

    TvcFile ParseKep(std::span<const uint8_t> bytes, const std::string& name)
    {
        const TvcMode* mode = CheckKepStart(bytes, name);
        if (IsExtendedKepFlag(bytes[3])) {
            std::vector<TvcPicture> fields = ReadExtendedKep(bytes, name);
            TvcFile file;
            file.mode = fields.front().mode;
            file.registers = fields.front().registers;
            file.lineRegisters = std::move(fields.front().lineRegisters);
            std::vector<uint8_t> frames;
            for (TvcPicture& field : fields) {
                if (field.registers != file.registers
                    || (!field.lineRegisters.empty() && field.lineRegisters != file.lineRegisters))
                    throw TvcFileError("'" + name + "' is an interlaced TVC picture whose two "
                        + "fields have registers per line of their own; Pelorin holds one set "
                          "of registers per line for all frames");
                frames.insert(frames.end(), field.vram.begin(), field.vram.end());
            }
            // Two fields are two frames, each shown for one of the machine's 50 a second.
            if (fields.size() == 2)
                file.rateNumerator = 50;
            file.frames = std::make_shared<FramesInMemory>(std::move(frames));
            return file;
        }
        if (bytes.size() != kKepBytes)
            throw TvcFileError("'" + name + "' has " + std::to_string(bytes.size())
                + " bytes; a plain TVC picture file has " + std::to_string(kKepBytes));
        TvcFile file;
        file.mode = mode;
        std::copy(bytes.begin() + 4, bytes.begin() + 8, file.registers.begin());
        file.frames
            = std::make_shared<FramesInMemory>(std::vector<uint8_t>(bytes.begin() + 8, bytes.end()));
        return file;
    }

    // The settings that follow the code of both programs: mode, registers; border not kept.
    void ReadSettings(TvcFile& file, std::span<const uint8_t> settings, const std::string& name)
    {
        file.mode = ModeOfFlag(settings[0] & 3);
        if (file.mode == nullptr)
            throw TvcFileError("'" + name + "' sets mode value " + Hex(settings[0]));
        std::copy(settings.begin() + 1, settings.begin() + 5, file.registers.begin());
    }

    // A rate as a player steps at it: in lowest terms and each term within int (a hostile file
    // may state any 32-bit numbers); a rate that still does not fit is made to by dropping low
    // bits of both terms, which changes it by less than one part in a million.
    bool FitRate(int64_t& numerator, int64_t& denominator)
    {
        const int64_t divisor = std::gcd(numerator, denominator);
        numerator /= divisor;
        denominator /= divisor;
        constexpr int64_t kMost = std::numeric_limits<int>::max();
        while (numerator > kMost || denominator > kMost) {
            numerator >>= 1;
            denominator >>= 1;
        }
        return numerator > 0 && denominator > 0;
    }

    TvcFileError BrokenClip(const std::string& name, const std::string& what)
    {
        return TvcFileError(
            "'" + name + "' holds Pelorin's clip player, but its frames are broken: " + what);
    }

    // The clip's settings and frame rate, which follow the player's code at `settingsAt`.
    void ReadClipSettings(TvcFile& file, std::span<const uint8_t> program, size_t settingsAt,
        size_t settingsBytes, const std::string& name)
    {
        if (program.size() < settingsAt + settingsBytes)
            throw BrokenClip(name, "it ends inside the settings");
        ReadSettings(file, program.subspan(settingsAt, 6), name);
        const auto word32 = [&](size_t at) {
            return int64_t(program[at]) | int64_t(program[at + 1]) << 8
                | int64_t(program[at + 2]) << 16 | int64_t(program[at + 3]) << 24;
        };
        file.rateNumerator = word32(settingsAt + 6);
        file.rateDenominator = word32(settingsAt + 10);
        if (file.rateNumerator <= 0 || file.rateDenominator <= 0)
            throw BrokenClip(name, "its frame rate is 0");
        if (!FitRate(file.rateNumerator, file.rateDenominator))
            throw BrokenClip(name,
                "its frame rate " + std::to_string(word32(settingsAt + 6)) + "/"
                    + std::to_string(word32(settingsAt + 10)) + " is no rate a player can step at");
    }

    // A jump's address as the player sees it, to an offset in the program.
    size_t ClipOffset(std::span<const uint8_t> program, size_t address, const std::string& name)
    {
        size_t load = address;
        if (address >= 0xC000)
            load = address - kRegionTwoShift;
        else if (address >= kRegionOneEnd)
            throw BrokenClip(name, "a jump to " + Hex4(unsigned(address)));
        if (load < kProgramLoadAddress || load - kProgramLoadAddress >= program.size())
            throw BrokenClip(name, "a jump out of the program, to " + Hex4(unsigned(address)));
        return load - kProgramLoadAddress;
    }

    // What tells a clip's records apart: today's player, or the first one (a 2-byte wait count
    // where the lead byte is, FFh FFh for a jump, runs where the commands are).
    struct ClipLayout {
        size_t code; // the player's bytes
        bool packed;
        size_t settingsBytes() const { return packed ? 18 : 14; }
        size_t headBytes() const { return packed ? 1 : 2; }
        size_t jumpBytes() const { return packed ? kRecordJumpBytes : 4; }
        bool JumpAt(std::span<const uint8_t> program, size_t at) const
        {
            return program[at] == kRecordJump && (packed || program[at + 1] == 0xFF);
        }
    };

    TvcFile ParseClip(
        std::span<const uint8_t> program, const ClipLayout& layout, const std::string& name)
    {
        const size_t settingsAt = kBasicBytes + layout.code;
        TvcFile file;
        ReadClipSettings(file, program, settingsAt, layout.settingsBytes(), name);
        auto clip = std::make_shared<ClipFrames>();
        clip->program.assign(program.begin(), program.end());
        clip->packed = layout.packed;
        clip->jumpTarget = [program = std::span<const uint8_t>(clip->program), name](
                               uint16_t address) { return ClipOffset(program, address, name); };
        std::vector<uint8_t> screen(kVramFrameBytes, 0);
        // Records drawn and jumps taken: the player goes round for ever, so the walk ends where
        // a jump between two records comes back to one it drew; a jump met again before any
        // new frame is a circle of jumps that draws nothing.
        std::set<size_t> visited, jumpsSinceFrame;
        size_t at = settingsAt + layout.settingsBytes();
        for (;;) {
            if (at + layout.jumpBytes() > program.size())
                throw BrokenClip(name, "a record runs past the end of the file");
            if (layout.JumpAt(program, at)) {
                if (!jumpsSinceFrame.insert(at).second)
                    throw BrokenClip(name,
                        "its jumps go round in a circle, at "
                            + Hex4(unsigned(kProgramLoadAddress + at)) + ", with no frame between");
                const size_t addressAt = at + layout.jumpBytes() - 2;
                const size_t target = ClipOffset(
                    program, program[addressAt] | size_t(program[addressAt + 1]) << 8, name);
                if (visited.count(target)) {
                    // Back into the loop: the last frame drawn was the way back to frame 0.
                    if (clip->records.size() < 2)
                        throw BrokenClip(name, "no frames before the loop");
                    clip->records.pop_back();
                    if (clip->snapshots.size() > (clip->records.size() - 1) / kClipSnapshotFrames + 1)
                        clip->snapshots.pop_back();
                    file.frames = std::move(clip);
                    return file;
                }
                at = target;
                continue;
            }
            jumpsSinceFrame.clear();
            // The player reaches a frame it drew before only by the loop's jump; running into
            // one would draw it again and again.
            if (!visited.insert(at).second)
                throw BrokenClip(name,
                    "a record at " + Hex4(unsigned(kProgramLoadAddress + at))
                        + " is reached twice without the loop's jump");
            if (clip->records.size() >= program.size() / 2)
                throw BrokenClip(name, "its records never loop");
            at += layout.headBytes(); // the lead or wait, which only the player needs
            clip->records.push_back(at);
            try {
                at = clip->DrawRecord(at, screen);
            } catch (const PackedFrameError& e) {
                throw BrokenClip(name, e.what());
            }
            if ((clip->records.size() - 1) % kClipSnapshotFrames == 0)
                clip->snapshots.push_back(screen);
        }
    }

    // The picture whose registers change from line to line: settings, video memory, then each
    // line's routine and the registers it writes, up to the way back to the field's start.
    TvcFile ParseLinesPicture(std::span<const uint8_t> program, const std::string& name)
    {
        const auto broken = [&](const std::string& what) {
            return TvcFileError("'" + name
                + "' holds Pelorin's picture program with registers per line, but " + what);
        };
        const size_t settingsAt = kBasicBytes + ShowPictureLinesCode().size();
        size_t at = settingsAt + kLineTableOffset;
        if (program.size() < at)
            throw broken("it ends inside the video memory");
        TvcFile file;
        ReadSettings(file, program.subspan(settingsAt, 6), name);
        file.frames = std::make_shared<FramesInMemory>(std::vector<uint8_t>(
            program.begin() + ptrdiff_t(settingsAt + 6), program.begin() + ptrdiff_t(at)));
        const LineRoutines routines = ShowPictureLinesRoutines();
        file.lineRegisters.assign(1, file.registers);
        for (;;) {
            if (at + 2 > program.size())
                throw broken("its line table runs past the end of the file");
            const uint16_t routine = uint16_t(program[at] | program[at + 1] << 8);
            at += 2;
            if (routine == routines.fieldEnd)
                break;
            const auto found
                = std::find(routines.byChanges.begin(), routines.byChanges.end(), routine);
            if (found == routines.byChanges.end())
                throw broken("line " + std::to_string(file.lineRegisters.size())
                    + " names no line routine but " + Hex4(routine));
            if (file.lineRegisters.size() == kVramLines)
                throw broken("its line table goes on past line " + std::to_string(kVramLines - 1));
            PaletteRegisters registers = file.lineRegisters.back();
            for (auto k = found - routines.byChanges.begin(); k > 0; --k, at += 2) {
                if (at + 2 > program.size())
                    throw broken("its line table runs past the end of the file");
                const unsigned index = program[at] - kFirstPalettePort;
                if (index >= registers.size())
                    throw broken("line " + std::to_string(file.lineRegisters.size())
                        + " writes port " + Hex(program[at]) + ", not a palette register");
                registers[index] = program[at + 1];
            }
            file.lineRegisters.push_back(registers);
        }
        if (file.lineRegisters.size() != kVramLines)
            throw broken("its line table ends after line "
                + std::to_string(file.lineRegisters.size() - 1) + ", not "
                + std::to_string(kVramLines - 1));
        if (at != program.size())
            throw broken(std::to_string(program.size() - at) + " bytes follow its line table");
        return file;
    }

    TvcFile ParseCas(std::span<const uint8_t> bytes, const std::string& name)
    {
        CheckCasStart(bytes, name);
        if (bytes.size() < kCasHeaderBytes)
            throw TvcFileError("'" + name + "' is a TVC file but ends inside its headers");
        const size_t length = size_t(bytes[0x82]) | size_t(bytes[0x83]) << 8;
        if (bytes[0x81] != 0x01 || kCasHeaderBytes + length > bytes.size())
            throw TvcFileError("'" + name + "' is a TVC file but holds no complete program");
        const std::span<const uint8_t> program = bytes.subspan(kCasHeaderBytes, length);
        // Ours: the BASIC line that calls 6655, then one of our two programs byte for byte.
        const std::vector<uint8_t> ourLine = CasBytes({}, {});
        const bool ourLineFound = program.size() >= kBasicBytes
            && std::equal(
                ourLine.begin() + ptrdiff_t(kCasHeaderBytes), ourLine.end(), program.begin());
        const auto holds = [&](std::span<const uint8_t> code) {
            return ourLineFound && program.size() >= kBasicBytes + code.size()
                && std::equal(code.begin(), code.end(), program.begin() + kBasicBytes);
        };
        for (const std::span<const uint8_t> code : { ShowPictureCode(), EarlierShowPictureCode() }) {
            if (!holds(code))
                continue;
            const size_t settingsAt = kBasicBytes + code.size();
            if (program.size() != settingsAt + 6 + kVramFrameBytes)
                throw TvcFileError("'" + name + "' holds Pelorin's picture program, but "
                    + std::to_string(program.size()) + " bytes, not "
                    + std::to_string(settingsAt + 6 + kVramFrameBytes));
            TvcFile file;
            ReadSettings(file, program.subspan(settingsAt, 6), name);
            file.frames = std::make_shared<FramesInMemory>(
                std::vector<uint8_t>(program.begin() + ptrdiff_t(settingsAt + 6), program.end()));
            return file;
        }
        if (holds(ShowPictureLinesCode()))
            return ParseLinesPicture(program, name);
        if (holds(PlayClipCode()))
            return ParseClip(program, { PlayClipCode().size(), true }, name);
        if (holds(EarlierPlayClipCode()))
            return ParseClip(program, { EarlierPlayClipCode().size(), false }, name);
        throw TvcFileError("'" + name
            + "' is a TVC program file that Pelorin did not write: it holds "
            + DescribeForeignProgram(program) + ", not one of Pelorin's pictures or clips");
    }

    // `size` is the file's: `bytes` may be only its start when the size alone refuses it.
    TvcFile ParseVram(std::span<const uint8_t> bytes, const TvcMode* mode, const std::string& name,
        uint64_t size)
    {
        if (mode == nullptr)
            throw TvcFileError(
                "'" + name + "' holds video memory without its mode: give --mode 2, 4 or 16");
        if (size == 0 || size % kVramFrameBytes != 0 || size != bytes.size())
            throw TvcFileError("'" + name + "' has " + std::to_string(size)
                + " bytes, not a whole number of " + std::to_string(kVramFrameBytes)
                + "-byte frames of TVC video memory");
        TvcFile file;
        file.mode = mode;
        file.registers = PaletteRegistersOf(*mode);
        file.frames = std::make_shared<FramesInMemory>(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        return file;
    }

} // namespace

bool IsTvcInputExtension(std::string_view extension)
{
    return extension == ".kep" || extension == ".cas" || extension == ".vram";
}

TvcFile ParseTvcFile(std::span<const uint8_t> bytes, std::string_view extension,
    const TvcMode* vramMode, const std::string& name)
{
    if (extension == ".kep")
        return ParseKep(bytes, name);
    if (extension == ".cas")
        return ParseCas(bytes, name);
    if (extension == ".vram")
        return ParseVram(bytes, vramMode, name, bytes.size());
    throw TvcFileError("'" + name + "' is not a .kep, .cas or .vram file");
}

std::vector<uint8_t> TvcFile::Frame(size_t index) const
{
    if (index >= FrameCount())
        throw std::out_of_range("frame " + std::to_string(index) + " of a TVC file of "
            + std::to_string(FrameCount()) + " frames");
    std::vector<uint8_t> vram;
    frames->Read(index, vram);
    return vram;
}

TvcFile ReadTvcFile(const std::string& path, const TvcMode* vramMode)
{
    std::string extension;
    if (const size_t dot = path.find_last_of('.');
        dot != std::string::npos && path.find('/', dot) == std::string::npos)
        extension = path.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    if (!IsTvcInputExtension(extension))
        throw TvcFileError("'" + path + "' is not a .kep, .cas or .vram file");
    // Not blocking: a pipe named .kep would otherwise wait for a writer before it is refused.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw TvcFileError("cannot read '" + path + "': " + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } closer { fd };
    struct stat status = {};
    if (::fstat(fd, &status) != 0)
        throw TvcFileError("cannot read '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(status.st_mode))
        throw TvcFileError("cannot read '" + path + "': "
            + (S_ISDIR(status.st_mode) ? std::string("it is a folder")
                                       : std::string("it is not a regular file (a device, pipe "
                                                     "or socket), which no TVC file is")));
    const uint64_t size = uint64_t(status.st_size);
    const auto readPrefix = [&](size_t n) {
        std::vector<uint8_t> bytes(n);
        size_t done = 0;
        while (done < n) {
            const ssize_t got = ::pread(fd, bytes.data() + done, n - done, off_t(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw TvcFileError("cannot read '" + path + "': " + std::strerror(errno));
            if (got == 0)
                break;
            done += size_t(got);
        }
        bytes.resize(done);
        return bytes;
    };
    if (extension == ".vram") {
        if (vramMode == nullptr || size == 0 || size % kVramFrameBytes != 0)
            return ParseVram(readPrefix(size_t(std::min<uint64_t>(size, kVramFrameBytes + 1))),
                vramMode, path, size);
        TvcFile file;
        file.mode = vramMode;
        file.registers = PaletteRegistersOf(*vramMode);
        file.frames = std::make_shared<FramesOnDisk>(fd, size_t(size / kVramFrameBytes), path);
        closer.fd = -1; // the frames keep it open
        return file;
    }
    const uint64_t most = extension == ".kep" ? kMostKepBytes : kMostCasBytes;
    if (size > most) {
        // What the file starts with is checked first, so that a file of another kind is named
        // as such rather than as too long.
        const std::vector<uint8_t> start = readPrefix(8);
        if (extension == ".kep")
            CheckKepStart(start, path);
        else
            CheckCasStart(start, path);
        throw TvcFileError("'" + path + "' has " + std::to_string(size) + " bytes; "
            + (extension == ".kep" ? "a TVC picture file holds at most "
                        + std::to_string(kMostKepBytes)
                                   : "a TVC program file holds at most "
                                       + std::to_string(kMostCasBytes)));
    }
    return ParseTvcFile(readPrefix(size_t(size)), extension, vramMode, path);
}

platform::Surface WorkingPicture(const TvcFile& file, size_t index)
{
    const TvcMode& mode = *file.mode;
    const std::vector<uint8_t> vram = file.Frame(index);
    platform::Surface picture(mode.workingWidth, mode.workingHeight);
    for (int y = 0; y < mode.workingHeight; ++y) {
        const uint8_t* line = vram.data() + size_t(y) * size_t(kVramBytesPerLine);
        uint32_t* row = picture.Row(y);
        const PaletteRegisters& registers
            = file.lineRegisters.empty() ? file.registers : file.lineRegisters[size_t(y)];
        for (int x = 0; x < mode.workingWidth; ++x) {
            const uint8_t byte = line[x / mode.pixelsPerByte];
            const int n = x % mode.pixelsPerByte;
            unsigned value = 0;
            for (int k = 0; k < mode.bitsPerPixel; ++k)
                value |= ((byte >> mode.vramBit[size_t(n)][size_t(k)]) & 1u) << k;
            // A "Graphics 16" pixel is its own colour number.
            const uint8_t reg
                = mode.bitsPerPixel == 4 ? RegisterValue(int(value)) : registers[value];
            row[x] = PackEntry(EntryOfRegister(reg));
        }
    }
    return picture;
}

platform::Surface EnlargeWhole(const platform::Surface& working, int width, int height)
{
    platform::Surface out(width, height);
    const int sx = width / working.width, sy = height / working.height;
    for (int y = 0; y < height; ++y) {
        const uint32_t* from = working.Row(y / sy);
        uint32_t* to = out.Row(y);
        for (int x = 0; x < width; ++x)
            to[x] = from[x / sx];
    }
    return out;
}

} // namespace pelorin::tvc
