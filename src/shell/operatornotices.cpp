#include "shell/operatornotices.h"

#include <algorithm>

void OperatorNotices::post(const Notice& notice) {
    if (m_shutDown)
        return;
    if (notice.kind != Notice::Kind::CommandCompleted && isOutstanding(notice))
        return;
    m_waiting.push_back(notice);
    emit noticePosted();
}

bool OperatorNotices::isOutstanding(const Notice& notice) const {
    return m_onScreen == notice ||
           std::find(m_waiting.begin(), m_waiting.end(), notice) != m_waiting.end();
}

std::optional<Notice> OperatorNotices::takeNext() {
    if (m_shutDown || m_onScreen || m_waiting.empty())
        return std::nullopt;
    m_onScreen = m_waiting.front();
    m_waiting.pop_front();
    return m_onScreen;
}

void OperatorNotices::closed() {
    m_onScreen.reset();
}

void OperatorNotices::shutDown() {
    m_shutDown = true;
    m_waiting.clear();
}
