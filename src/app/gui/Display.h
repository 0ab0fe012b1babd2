// The monitoring list view: one row per monitored user, inside the main window.
#pragma once

#include "users/CUserList.h"

#include <QTreeWidget>
#include <QWidget>

// The report list itself; says what to do when no user is monitored.
class CUserListControl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CUserListControl(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Reads the main window's live user list at every refresh and owns nothing of it. Fills the main
// window's client area below the tool bar; a layout makes it follow the window's size (the list
// grows and shrinks by as much as the window, and a minimised window changes nothing).
class display : public QWidget {
    Q_OBJECT
public:
    static constexpr int kListControlId = 1010;
    // The list control's size before the window is first placed, in pixels.
    static constexpr int kDefaultListWidth = 603;
    static constexpr int kDefaultListHeight = 273;

    // `users`: the live list (not owned; it outlives the view).
    display(const CUserList& users, QWidget* parent);

    // Rebuilds every row from the live list. The titles are set again, the widths stay as the
    // user sized them; the users selected before stay selected, and the list stays scrolled
    // where it was.
    void DoDataExchange();

    int ColumnWidth(int column) const;
    // The width a column starts at when none is stored: the seed's default, widened to
    // TitleWidth where the title would be cut.
    int InitialColumnWidth(int column) const;
    // Pixels the column's title needs in the header: its text at the header's font plus the
    // style's section margins.
    int TitleWidth(int column) const;
    // The list's width in a window at its default size: kDefaultListWidth, plus what the
    // columns before "Next Due" were widened by to fit their titles.
    int DefaultListWidth() const;
    // Writes the six widths to "Column1Width" ... "Column6Width".
    void SaveColumnWidths() const;

    CUserListControl* ListControl() const { return m_list; }

signals:
    // The user's "ERROR" cell was double-clicked: the user of that code failed its last scan.
    void scanErrorActivated(int16_t code);

public:
    QSize sizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    const CUserList& m_users;
    CUserListControl* m_list;
};
