#pragma once
// For tests: records the MCI command strings sent, through the trace hook of mci.h.
#include "video/mci.h"

#include <mutex>
#include <string>
#include <vector>

namespace pelorin {

// Records every command string sent while it lives (installs itself as the trace).
class MciRecorder {
public:
    MciRecorder();
    ~MciRecorder();
    MciRecorder(const MciRecorder&) = delete;
    MciRecorder& operator=(const MciRecorder&) = delete;
    std::vector<std::string> Sent() const;
    void Clear();

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_sent;
};

} // namespace pelorin
