// Any text through the MCI string interpreter: each line of the input is one command string,
// sent with an answer buffer of a capacity taken from the input too. A parent picture box exists
// so that "open ... parent N" strings can name a real window; the seed corpus opens the sample
// video, so the commands after it reach a live device.
#include "platform/picture_box.h"
#include "video/mci.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static platform::PictureBox parent(64, 32);
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    int commands = 0;
    while (start <= text.size() && commands++ < 32) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        std::string answer;
        const unsigned capacity = line.empty() ? 0u : unsigned(uint8_t(line[0])) * 2;
        pelorin::mciSendStringA(line, &answer, capacity, 0);
        if (capacity > 0 && answer.size() >= capacity)
            __builtin_trap(); // an answer must fit the buffer it was given
        start = end + 1;
    }
    pelorin::mciSendStringA("close all", nullptr, 0, 0);
    return 0;
}
