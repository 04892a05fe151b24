#include "mci_recorder.h"

namespace pelorin {

MciRecorder::MciRecorder()
{
    SetMciTrace([this](const std::string& command) {
        std::lock_guard lock(m_lock);
        m_sent.push_back(command);
    });
}

MciRecorder::~MciRecorder() { SetMciTrace({}); }

std::vector<std::string> MciRecorder::Sent() const
{
    std::lock_guard lock(m_lock);
    return m_sent;
}

void MciRecorder::Clear()
{
    std::lock_guard lock(m_lock);
    m_sent.clear();
}

} // namespace pelorin
