// The MCI string interpreter: parses command strings and drives the devices of its table.
#include "mci.h"

#include "video_device.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

namespace pelorin {

namespace {

    struct Token {
        std::string text;
        std::string lower;
        size_t begin; // position in the command string
        size_t end;
    };

    std::string Lower(std::string text)
    {
        for (char& c : text)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    std::vector<Token> Tokenize(const std::string& command)
    {
        std::vector<Token> tokens;
        size_t i = 0;
        for (;;) {
            while (i < command.size() && std::isspace(static_cast<unsigned char>(command[i])))
                ++i;
            if (i >= command.size())
                return tokens;
            const size_t begin = i;
            while (i < command.size() && !std::isspace(static_cast<unsigned char>(command[i])))
                ++i;
            std::string text = command.substr(begin, i - begin);
            tokens.push_back({ text, Lower(text), begin, i });
        }
    }

    // A whole token as a decimal integer: optional '-', digits, nothing else.
    std::optional<int64_t> Integer(const std::string& text)
    {
        int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || text.empty())
            return std::nullopt;
        return value;
    }

    enum class TimeFormat { Frames, Milliseconds };

    struct Device {
        std::unique_ptr<video::VideoDevice> video;
        TimeFormat timeFormat = TimeFormat::Milliseconds;
    };

    // Milliseconds from the first picture to the start of `slot`, rounded down.
    int64_t SlotToMs(const video::VideoDevice& d, int64_t slot)
    {
        const __int128 ms = __int128(slot) * 1000 * d.RateDenominator() / d.RateNumerator();
        return int64_t(ms);
    }

    // The slot showing at `ms`: the last one that starts at or before it. `ms` lies before the
    // end of the video.
    int64_t MsToSlot(const video::VideoDevice& d, int64_t ms)
    {
        const __int128 scaled
            = __int128(ms) * d.RateNumerator() / (int64_t(1000) * d.RateDenominator());
        int64_t slot = int64_t(scaled);
        while (SlotToMs(d, slot + 1) <= ms)
            ++slot;
        return slot;
    }

    struct Result {
        uint32_t code = 0;
        std::string answer;
        std::string detail;
    };

    Result Fail(uint32_t code, std::string detail) { return { code, {}, std::move(detail) }; }

    class Interpreter {
    public:
        Result Execute(const std::string& command, const video::PictureSourceOpener& pictures);
        video::VideoDevice* Find(const std::string& alias) const
        {
            const auto it = m_devices.find(Lower(alias));
            return it == m_devices.end() ? nullptr : it->second.video.get();
        }

    private:
        Result Open(const std::string& command, const std::vector<Token>& tokens,
            const video::PictureSourceOpener& pictures);
        Result Close(const Token& name);
        Result Seek(Device& device, const std::vector<Token>& args);
        Result Set(Device& device, const std::vector<Token>& args);
        Result Status(Device& device, const std::vector<Token>& args);
        Result Put(Device& device, const std::vector<Token>& args);

        std::map<std::string, Device> m_devices; // by lower-case alias
    };

    Result Interpreter::Execute(
        const std::string& command, const video::PictureSourceOpener& pictures)
    {
        std::vector<Token> tokens = Tokenize(command);
        if (tokens.empty())
            return Fail(MCIERR_MISSING_COMMAND_STRING, "empty command");
        const std::string verb = tokens[0].lower;
        if (verb == "open")
            return Open(command, tokens, pictures);

        static const char* const kVerbs[]
            = { "close", "play", "pause", "resume", "stop", "seek", "set", "status", "put" };
        if (std::find(std::begin(kVerbs), std::end(kVerbs), verb) == std::end(kVerbs))
            return Fail(MCIERR_UNRECOGNIZED_COMMAND, "unknown command '" + tokens[0].text + "'");
        if (tokens.size() < 2)
            return Fail(MCIERR_MISSING_DEVICE_NAME, "'" + verb + "' names no device");

        // "wait" and "notify" may close any command; each command here has finished when it
        // returns, and there are no callback windows to notify.
        std::vector<Token> args(tokens.begin() + 2, tokens.end());
        bool wait = false;
        bool notify = false;
        while (!args.empty()) {
            if (args.back().lower == "wait" && !wait)
                wait = true;
            else if (args.back().lower == "notify" && !notify)
                notify = true;
            else
                break;
            args.pop_back();
        }

        const std::string alias = tokens[1].lower;
        if (verb == "close") {
            if (!args.empty())
                return Fail(
                    MCIERR_UNRECOGNIZED_KEYWORD, "close does not take '" + args[0].text + "'");
            return Close(tokens[1]);
        }
        if (alias == "all")
            return Fail(MCIERR_CANNOT_USE_ALL, "'" + verb + "' cannot address all devices");
        auto it = m_devices.find(alias);
        if (it == m_devices.end())
            return Fail(MCIERR_INVALID_DEVICE_NAME, "no open device '" + tokens[1].text + "'");
        Device& device = it->second;
        video::VideoDevice& video = *device.video;

        if (verb == "seek")
            return Seek(device, args);
        if (verb == "set")
            return Set(device, args);
        if (verb == "status")
            return Status(device, args);
        if (verb == "put")
            return Put(device, args);
        if (!args.empty())
            return Fail(MCIERR_UNRECOGNIZED_KEYWORD,
                "'" + verb + "' does not take '" + args.front().text + "'");
        if (verb == "play") {
            video.Play();
            if (wait)
                video.WaitWhilePlaying();
        } else if (verb == "pause") {
            video.Pause();
        } else if (verb == "resume") {
            video.Resume();
        } else if (verb == "stop") {
            video.Stop();
        }
        return {};
    }

    // The clauses of `open <file> [type t] [alias a] [parent n] [style s]
    // [wait|notify|shareable]`. The file name may hold blanks, so the keywords are taken from the
    // right; each at most once, so a folder named like a keyword stays part of the name.
    struct OpenClauses {
        std::map<std::string, std::string> values; // by keyword
        size_t first = 0; // the first token after the file name
        const Token* dangling = nullptr; // a value keyword at the end, with no value
    };

    OpenClauses ReadOpenClauses(const std::vector<Token>& tokens)
    {
        static const char* const kValueKeywords[] = { "type", "alias", "parent", "style" };
        static const char* const kFlags[] = { "wait", "notify", "shareable" };
        const auto isValueKeyword = [](const std::string& word) {
            return std::find(std::begin(kValueKeywords), std::end(kValueKeywords), word)
                != std::end(kValueKeywords);
        };
        OpenClauses clauses;
        std::map<std::string, std::string>& values = clauses.values;
        std::vector<std::string> flags;
        size_t first = tokens.size();
        while (first > 1) {
            const Token& last = tokens[first - 1];
            const bool isFlag
                = std::find(std::begin(kFlags), std::end(kFlags), last.lower) != std::end(kFlags);
            if (isFlag && std::find(flags.begin(), flags.end(), last.lower) == flags.end()) {
                flags.push_back(last.lower);
                --first;
                continue;
            }
            if (first > 2) {
                const Token& keyword = tokens[first - 2];
                if (isValueKeyword(keyword.lower) && !values.count(keyword.lower)) {
                    values[keyword.lower] = last.text;
                    first -= 2;
                    continue;
                }
            }
            if (isValueKeyword(last.lower) && !values.count(last.lower))
                clauses.dangling = &last;
            break;
        }
        clauses.first = first;
        return clauses;
    }

    // The file name of an open command: its text from after the verb to the first clause, without
    // the blanks around it or the quotes around it; empty when there is none.
    std::string OpenElement(
        const std::string& command, const std::vector<Token>& tokens, size_t first)
    {
        if (first <= 1)
            return {};
        const size_t begin = tokens[0].end;
        const size_t end = first < tokens.size() ? tokens[first].begin : command.size();
        std::string element = command.substr(begin, end - begin);
        const auto notBlank = [](char c) { return !std::isspace(static_cast<unsigned char>(c)); };
        element.erase(element.begin(), std::find_if(element.begin(), element.end(), notBlank));
        element.erase(
            std::find_if(element.rbegin(), element.rend(), notBlank).base(), element.end());
        if (element.size() >= 2 && element.front() == '"' && element.back() == '"')
            element = element.substr(1, element.size() - 2);
        return element;
    }

    Result Interpreter::Open(const std::string& command, const std::vector<Token>& tokens,
        const video::PictureSourceOpener& pictures)
    {
        OpenClauses clauses = ReadOpenClauses(tokens);
        if (clauses.dangling)
            return Fail(MCIERR_MISSING_PARAMETER, "'" + clauses.dangling->text + "' needs a value");
        std::map<std::string, std::string>& values = clauses.values;
        const std::string element = OpenElement(command, tokens, clauses.first);
        if (element.empty())
            return Fail(MCIERR_FILENAME_REQUIRED, "open names no file");

        if (values.count("type")) {
            const std::string type = Lower(values["type"]);
            if (type == "waveaudio")
                return Fail(MCIERR_UNSUPPORTED_FUNCTION, "there is no wave-audio device");
            if (type != "avivideo")
                return Fail(MCIERR_INVALID_DEVICE_NAME, "unknown device type '" + type + "'");
        }
        const std::string alias = Lower(values.count("alias") ? values["alias"] : element);
        if (alias == "all")
            return Fail(MCIERR_CANNOT_USE_ALL, "'all' cannot be an alias");
        if (m_devices.count(alias))
            return Fail(MCIERR_DUPLICATE_ALIAS, "alias '" + alias + "' is already open");
        int parent = 0;
        if (values.count("parent")) {
            const auto handle = Integer(values["parent"]);
            if (!handle || *handle < INT32_MIN || *handle > INT32_MAX)
                return Fail(
                    MCIERR_BAD_INTEGER, "parent '" + values["parent"] + "' is not a handle");
            parent = int(*handle);
            // 0 asks for a window of its own, which has nowhere to show here.
            if (parent != 0 && !platform::FindWindow(parent))
                return Fail(MCIERR_CREATEWINDOW, "no window has handle " + values["parent"]);
        }
        if (values.count("style") && !Integer(values["style"]))
            return Fail(MCIERR_BAD_INTEGER, "style '" + values["style"] + "' is not a number");

        std::error_code error;
        if (!std::filesystem::exists(element, error))
            return Fail(MCIERR_FILE_NOT_FOUND, "'" + element + "' does not exist");
        std::string why;
        // The shell's parent is a picture box named by handle. It is looked up anew for every
        // drawing, so a box that has gone away since is simply not drawn into.
        video::FrameTargetLookup target;
        if (parent != 0)
            target = [parent]() -> platform::FrameTarget* { return platform::FindWindow(parent); };
        auto video = video::VideoDevice::Open(element, std::move(target), &why, {}, pictures);
        if (!video)
            return Fail(MCIERR_INVALID_FILE, why);
        m_devices[alias] = Device { std::move(video) };
        return {};
    }

    Result Interpreter::Close(const Token& name)
    {
        const std::string alias = name.lower;
        if (alias == "all") {
            m_devices.clear();
            return {};
        }
        auto it = m_devices.find(alias);
        if (it == m_devices.end())
            return Fail(MCIERR_INVALID_DEVICE_NAME, "no open device '" + name.text + "'");
        m_devices.erase(it);
        return {};
    }

    // seek <dev> to start|end|<position>
    Result Interpreter::Seek(Device& device, const std::vector<Token>& args)
    {
        if (args.empty() || args[0].lower != "to")
            return Fail(args.empty() ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD,
                "seek needs 'to' and a position");
        if (args.size() < 2)
            return Fail(MCIERR_MISSING_PARAMETER, "seek to where?");
        if (args.size() > 2)
            return Fail(MCIERR_UNRECOGNIZED_KEYWORD, "seek does not take '" + args[2].text + "'");
        video::VideoDevice& video = *device.video;
        int64_t slot;
        if (args[1].lower == "start") {
            slot = 0;
        } else if (args[1].lower == "end") {
            slot = video.Length() - 1;
        } else {
            const auto position = Integer(args[1].text);
            if (!position)
                return Fail(
                    MCIERR_BAD_INTEGER, "position '" + args[1].text + "' is not a whole number");
            if (*position < 0)
                return Fail(MCIERR_OUTOFRANGE, "position " + args[1].text + " is negative");
            if (device.timeFormat == TimeFormat::Frames)
                slot = *position;
            else if (*position >= SlotToMs(video, video.Length()))
                slot = video.Length(); // past the end; also keeps MsToSlot within range
            else
                slot = MsToSlot(video, *position);
        }
        if (slot >= video.Length())
            return Fail(MCIERR_OUTOFRANGE,
                "position " + args[1].text + " is past the end (length "
                    + std::to_string(device.timeFormat == TimeFormat::Frames
                            ? video.Length()
                            : SlotToMs(video, video.Length()))
                    + ")");
        if (!video.Seek(slot))
            return Fail(
                MCIERR_HARDWARE, "the video cannot be read at frame " + std::to_string(slot));
        return {};
    }

    // set <dev> time format frames|ms|milliseconds ; set <dev> audio all on|off
    Result Interpreter::Set(Device& device, const std::vector<Token>& args)
    {
        std::vector<std::string> words;
        for (const Token& t : args)
            words.push_back(t.lower);
        if (words.size() == 3 && words[0] == "time" && words[1] == "format") {
            if (words[2] == "frames") {
                device.timeFormat = TimeFormat::Frames;
                return {};
            }
            if (words[2] == "ms" || words[2] == "milliseconds") {
                device.timeFormat = TimeFormat::Milliseconds;
                return {};
            }
            return Fail(MCIERR_UNRECOGNIZED_KEYWORD, "unknown time format '" + args[2].text + "'");
        }
        if (words.size() == 3 && words[0] == "audio" && words[1] == "all"
            && (words[2] == "on" || words[2] == "off")) {
            device.video->SetAudio(words[2] == "on");
            return {};
        }
        if (words.empty() || (words.size() < 3 && (words[0] == "time" || words[0] == "audio")))
            return Fail(MCIERR_MISSING_PARAMETER, "set needs an item and a value");
        return Fail(MCIERR_UNRECOGNIZED_KEYWORD, "set does not take '" + args[0].text + "' ...");
    }

    Result Interpreter::Status(Device& device, const std::vector<Token>& args)
    {
        if (args.empty())
            return Fail(MCIERR_MISSING_PARAMETER, "status needs an item");
        std::string item;
        for (const Token& t : args)
            item += (item.empty() ? "" : " ") + t.lower;
        const video::VideoDevice& video = *device.video;
        const bool frames = device.timeFormat == TimeFormat::Frames;
        Result result;
        if (item == "length")
            result.answer
                = std::to_string(frames ? video.Length() : SlotToMs(video, video.Length()));
        else if (item == "position")
            result.answer
                = std::to_string(frames ? video.Position() : SlotToMs(video, video.Position()));
        else if (item == "mode")
            result.answer = video::ModeName(video.Mode());
        else if (item == "time format")
            result.answer = frames ? "frames" : "milliseconds";
        else if (item == "audio")
            result.answer = video.AudioOn() ? "on" : "off";
        else if (item == "ready")
            result.answer = video.Mode() == video::DeviceMode::NotReady ? "false" : "true";
        else if (item == "frame rate") // frames per second times 1000, in any time format
            result.answer = std::to_string(
                std::llround(1000.0 * video.RateNumerator() / video.RateDenominator()));
        else
            return Fail(MCIERR_UNRECOGNIZED_KEYWORD, "unknown status item '" + item + "'");
        return result;
    }

    // put <dev> window at x y width height
    Result Interpreter::Put(Device& device, const std::vector<Token>& args)
    {
        if (args.size() < 2 || args[0].lower != "window" || args[1].lower != "at")
            return Fail(args.empty() ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD,
                "put supports 'window at x y width height'");
        if (args.size() != 6)
            return Fail(args.size() < 6 ? MCIERR_MISSING_PARAMETER : MCIERR_UNRECOGNIZED_KEYWORD,
                "put window at needs x, y, width and height");
        int64_t numbers[4];
        for (int i = 0; i < 4; ++i) {
            const auto n = Integer(args[size_t(2 + i)].text);
            if (!n)
                return Fail(
                    MCIERR_BAD_INTEGER, "'" + args[size_t(2 + i)].text + "' is not a whole number");
            numbers[i] = *n;
        }
        const bool placeOk = numbers[0] >= INT32_MIN / 2 && numbers[0] <= INT32_MAX / 2
            && numbers[1] >= INT32_MIN / 2 && numbers[1] <= INT32_MAX / 2;
        const bool sizeOk = numbers[2] >= 1 && numbers[2] <= video::kMaxVideoSide && numbers[3] >= 1
            && numbers[3] <= video::kMaxVideoSide;
        if (!placeOk || !sizeOk)
            return Fail(MCIERR_OUTOFRANGE,
                "window sides must be 1 ... " + std::to_string(video::kMaxVideoSide));
        device.video->PutWindow(
            { int(numbers[0]), int(numbers[1]), int(numbers[2]), int(numbers[3]) });
        return {};
    }

    // Devices play on threads of their own and draw into picture boxes registered elsewhere, so
    // the table is never destroyed at exit: closing is the program's job ("close all").
    Interpreter& TheInterpreter()
    {
        static Interpreter* interpreter = new Interpreter;
        return *interpreter;
    }

    std::mutex g_lock; // one command at a time; guards the table and the last detail
    std::string g_lastDetail;
    std::mutex g_traceLock;
    std::function<void(const std::string&)> g_trace;

} // namespace

uint32_t mciSendStringA(
    const std::string& command, std::string* answer, unsigned capacity, int callbackWindow)
{
    return mciSendStringA(command, answer, capacity, callbackWindow, {});
}

uint32_t mciSendStringA(const std::string& command, std::string* answer, unsigned capacity,
    int /*callbackWindow*/, const video::PictureSourceOpener& pictures)
{
    std::function<void(const std::string&)> trace;
    {
        std::lock_guard lock(g_traceLock);
        trace = g_trace;
    }
    if (trace)
        trace(command);

    if (answer && capacity > 0)
        answer->clear();
    std::lock_guard lock(g_lock);
    Result result = TheInterpreter().Execute(command, pictures);
    if (result.code == 0 && answer && capacity > 0) {
        if (result.answer.size() > capacity - 1) {
            result = Fail(MCIERR_PARAM_OVERFLOW,
                "the answer needs " + std::to_string(result.answer.size() + 1) + " characters, "
                    + std::to_string(capacity) + " given");
        } else {
            *answer = result.answer;
        }
    }
    g_lastDetail = result.detail;
    return result.code;
}

const video::VideoDevice* MciOpenVideo(const std::string& alias)
{
    std::lock_guard guard(g_lock);
    return TheInterpreter().Find(alias);
}

video::VideoDevice* MciOpenVideoToPlace(const std::string& alias)
{
    std::lock_guard guard(g_lock);
    return TheInterpreter().Find(alias);
}

std::string MciLastErrorDetail()
{
    std::lock_guard lock(g_lock);
    return g_lastDetail;
}

void SetMciTrace(std::function<void(const std::string& command)> trace)
{
    std::lock_guard lock(g_traceLock);
    g_trace = std::move(trace);
}

std::string MciErrorText(uint32_t code)
{
    switch (code) {
    case 0:
        return "no error";
    case MCIERR_UNRECOGNIZED_KEYWORD:
        return "unknown keyword or value";
    case MCIERR_UNRECOGNIZED_COMMAND:
        return "unknown command";
    case MCIERR_HARDWARE:
        return "the device failed";
    case MCIERR_INVALID_DEVICE_NAME:
        return "the device is not open";
    case MCIERR_MISSING_COMMAND_STRING:
        return "no command given";
    case MCIERR_PARAM_OVERFLOW:
        return "the answer does not fit";
    case MCIERR_BAD_INTEGER:
        return "not a whole number";
    case MCIERR_MISSING_PARAMETER:
        return "a parameter is missing";
    case MCIERR_UNSUPPORTED_FUNCTION:
        return "the device cannot do that";
    case MCIERR_FILE_NOT_FOUND:
        return "file not found";
    case MCIERR_CANNOT_USE_ALL:
        return "'all' cannot be used here";
    case MCIERR_OUTOFRANGE:
        return "the value is out of range";
    case MCIERR_DUPLICATE_ALIAS:
        return "the alias is already in use";
    case MCIERR_MISSING_DEVICE_NAME:
        return "no device name given";
    case MCIERR_INVALID_FILE:
        return "the file cannot be played";
    case MCIERR_FILENAME_REQUIRED:
        return "a file name is required";
    case MCIERR_CREATEWINDOW:
        return "the parent window does not exist";
    default:
        return "MCI error " + std::to_string(code);
    }
}

} // namespace pelorin
