// The Events view (View, Events): the latest events the monitor wrote, newest first, with the
// JSON event file's when it is set, filterable by user and type. Its place is remembered.
#pragma once

#include "app/gui/EventRows.h"
#include "users/CUserList.h"

#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QTreeWidget;

class CEventsView : public QWidget {
    Q_OBJECT
public:
    enum Column { kTime, kType, kText, kColumns };
    // Bytes of the event file read at most, from its end.
    static constexpr size_t kFileTailBytes = 1 << 20;

    // `users`: the live list (not owned; it outlives the view), for the user filter.
    CEventsView(const CUserList& users, QWidget* parent);

    // Shows the view with every event, or only those of the user `code` (0: every user), and
    // brings it to the front.
    void ShowFiltered(int16_t code);
    // Reads the session's events again, and the event file (named by ORVANE_EVENT_LOG) when it
    // is set, and lists them through the filter.
    void Reload();

    QTreeWidget* List() const { return m_list; }
    QComboBox* UserFilter() const { return m_user; }
    QComboBox* TypeFilter() const { return m_type; }
    // What the view says above the list (an event file that cannot be read; lines skipped).
    QString Notice() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void FillUsers();
    void Refill();
    void RestorePlace();
    void SavePlace();

    const CUserList& m_users;
    QComboBox* m_user;
    QComboBox* m_type;
    QTreeWidget* m_list;
    QLabel* m_notice;
    QTimer m_poll;             // checks for new session events while shown
    uint64_t m_seenSerial = 0; // the session's serial when last read
    std::vector<events::EventRow> m_fileRows;
    std::vector<events::EventRow> m_rows; // session and file, newest first
    bool m_placed = false;
};
