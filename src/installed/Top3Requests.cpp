#include "installed/Top3Requests.h"

TTop3Requests::~TTop3Requests()
{
    // A worker still running must stop even though nobody takes its answer.
    Cancel();
}

TTop3Requests::Ticket TTop3Requests::Start()
{
    Cancel();
    m_current.Id = ++m_lastId;
    m_current.Cancel = std::make_shared<std::atomic<bool>>(false);
    ++m_started;
    return m_current;
}

void TTop3Requests::Cancel()
{
    if (m_current.Id == 0)
        return;
    m_current.Cancel->store(true);
    ++m_cancelled;
    m_current = {};
}

bool TTop3Requests::Finish(quint64 Id)
{
    if (Id == 0 || Id > m_lastId)
        return false;
    ++m_finished;
    if (Id != m_current.Id)
        return false;
    m_current = {};
    return true;
}
