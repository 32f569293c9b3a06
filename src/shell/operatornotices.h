#pragma once

#include <QObject>
#include <QString>

#include <deque>
#include <optional>

// One box the operator must see: what it is about, its caption and text.
struct Notice {
    enum class Kind {
        PortWriteError,   // a request could not be written, or the port vanished
        CommandRefused,   // a press while a command is being sent
        CommandCompleted, // the terminal acknowledged a command
        StorageFailure,   // weighings cannot be stored
    };
    Kind kind = Kind::PortWriteError;
    QString caption;
    QString text;

    bool isWarning() const { return kind == Kind::PortWriteError || kind == Kind::StorageFailure; }
    bool operator==(const Notice&) const = default;
};

// The boxes the program owes the operator, in the order they arose. The logic posts a notice from
// inside its handlers; the window takes them one at a time from the event loop, after the handler
// (and any port call in it) has returned, so no box ever runs a nested event loop in the middle of
// a frame or a state change.
//
// One error, one box: a notice that is not a command's completion is dropped while an equal one is
// waiting or on screen. Completions are each shown, as each names a command that was carried out.
class OperatorNotices : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    void post(const Notice& notice);

    // The window's side: the next notice to show, which counts as on screen until closed() is
    // called; nothing while one is on screen (a box's own event loop may ask again).
    std::optional<Notice> takeNext();
    void closed();

    // The program is closing: what is waiting is dropped and nothing more is taken.
    void shutDown();

    bool hasWaiting() const { return !m_waiting.empty(); }
    const std::optional<Notice>& onScreen() const { return m_onScreen; }

signals:
    // A notice is waiting. The window connects it queued, so the box comes after the handler.
    void noticePosted();

private:
    bool isOutstanding(const Notice& notice) const;

    std::deque<Notice> m_waiting;
    std::optional<Notice> m_onScreen;
    bool m_shutDown = false;
};
