#include "steady_history.h"

#include "convert/working_bitmap.h"

namespace pelorin {

bool SteadyHistory::Begin(const Key& key, int64_t frame)
{
    m_continues = m_valid && m_key == key && m_frame < INT64_MAX && m_frame + 1 == frame;
    if (!m_continues)
        m_start = frame;
    m_valid = false;
    m_key = key;
    m_frame = frame;
    return m_continues;
}

void SteadyHistory::Finish()
{
    m_valid = true;
    m_continues = false;
}

void SteadyHistory::Keep(WorkingBitmap& work)
{
    work.LeaveFor(left, leftCapacity);
    leftBytes = work.Geometry().SizeBytes();
}

SteadyHistory& ProgramSteadyHistory()
{
    static SteadyHistory history;
    return history;
}

} // namespace pelorin
