// The monitoring list view.
#include "app/gui/Display.h"

#include "app/gui/DisplayRows.h"
#include "core/Settings.h"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kCodeRole = Qt::UserRole;
constexpr int kMargin = 4;

// The ERROR cell: red ink on a red tint, in shades that read well on the theme's own
// background, light or dark.
struct ErrorLook {
    QColor ink, tint;
};
ErrorLook ErrorColours(const QPalette& palette) {
    if (palette.color(QPalette::Base).lightness() < 128)
        return {QColor(0xff, 0x9a, 0x9a), QColor(0x5a, 0x1e, 0x24)};
    return {QColor(0xa8, 0x00, 0x1c), QColor(0xfb, 0xe1, 0xe4)};
}

} // namespace

CUserListControl::CUserListControl(QWidget* parent) : QTreeWidget(parent) {}

void CUserListControl::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    if (topLevelItemCount() != 0)
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const QRect area = viewport()->rect().adjusted(12, 12, -12, -12);
    painter.drawText(area, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     tr("No users are monitored. Choose Configure, Users... to add them."));
}

display::display(const CUserList& users, QWidget* parent)
    : QWidget(parent), m_users(users), m_list(new CUserListControl(this)) {
    setObjectName("display");
    m_list->setObjectName("userList");
    m_list->setProperty("controlId", kListControlId);
    m_list->setColumnCount(DisplayRowStru::kColumns);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setAlternatingRowColors(true);
    m_list->setSortingEnabled(false); // the rows arrive in display-name order
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->setFocusPolicy(Qt::StrongFocus);

    QHeaderView* header = m_list->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    // "Next Due" takes the room left at the right, so that its date is not cut short.
    header->setStretchLastSection(true);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setTextElideMode(Qt::ElideRight);
    QStringList titles;
    for (const char* title : display_columns::kTitles)
        titles << QString::fromLatin1(title);
    m_list->setHeaderLabels(titles);
    for (int column = 0; column < DisplayRowStru::kColumns; ++column)
        m_list->headerItem()->setToolTip(column, titles[column]);
    // A width the user set is kept as it is; the initial one is widened where its title would
    // be cut at the window's font (the seed's 64 pixels cut "Office Flag" and "Reminders").
    const char* const absent = "-"; // no width stored: not a number a save writes
    for (int column = 0; column < DisplayRowStru::kColumns; ++column) {
        const CString stored = Settings::GetProfileString(
            Settings::kPreferences, display_columns::kWidthSettings[column], absent);
        const int width =
            stored == absent ? InitialColumnWidth(column) : Settings::TextToInt(stored);
        m_list->setColumnWidth(column, width > 0 ? width : 0);
    }

    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int column) {
                if (column == display_columns::kReminders &&
                    item->text(column) == QLatin1String("ERROR"))
                    emit scanErrorActivated(static_cast<int16_t>(item->data(0, kCodeRole).toInt()));
            });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, 2, kMargin, kMargin);
    layout->addWidget(m_list);
}

QSize display::sizeHint() const {
    return QSize(DefaultListWidth() + 2 * kMargin, kDefaultListHeight + 2 + kMargin);
}

int display::DefaultListWidth() const {
    // Columns widened to their titles widen the list by as much, so that "Next Due" keeps its
    // room in a window at its default size.
    int widened = 0;
    for (int column = 0; column < display_columns::kNextDue; ++column)
        widened += InitialColumnWidth(column) - display_columns::kDefaultWidths[column];
    return kDefaultListWidth + widened;
}

void display::DoDataExchange() {
    // Who was selected and where the list stood, by user code: the rows are all new.
    QSet<int> selected;
    for (const QTreeWidgetItem* item : m_list->selectedItems())
        selected.insert(item->data(0, kCodeRole).toInt());
    const QTreeWidgetItem* current = m_list->currentItem();
    const int currentCode = current ? current->data(0, kCodeRole).toInt() : 0;
    const int scrolled = m_list->verticalScrollBar()->value();

    QStringList titles;
    for (const char* title : display_columns::kTitles)
        titles << QString::fromLatin1(title);
    m_list->setHeaderLabels(titles);

    m_list->setUpdatesEnabled(false);
    m_list->clear();
    // The view's own palette: it has the theme's colours already when the list's does not yet.
    const ErrorLook error = ErrorColours(palette());
    QTreeWidgetItem* currentItem = nullptr;
    QList<QTreeWidgetItem*> items;
    for (const DisplayRowStru& row : MakeDisplayRows(m_users)) {
        auto* item = new QTreeWidgetItem;
        for (int column = 0; column < DisplayRowStru::kColumns; ++column)
            item->setText(column, QString::fromStdString(row.Cells[column]));
        item->setData(0, kCodeRole, row.Code);
        if (row.ScanFailed) {
            const int column = display_columns::kReminders;
            QFont bold = m_list->font();
            bold.setBold(true);
            item->setFont(column, bold);
            item->setForeground(column, error.ink);
            item->setBackground(column, error.tint);
            // The scan's own words; double-clicking the cell lists the user's events.
            item->setToolTip(column,
                             row.ScanError.empty()
                                 ? tr("The last scan of this user failed; the Events view says "
                                      "why (double-click).")
                                 : QString::fromStdString(row.ScanError) +
                                       tr("\n(Double-click for this user's events.)"));
        }
        if (row.Code == currentCode)
            currentItem = item;
        items.append(item);
    }
    m_list->addTopLevelItems(items);
    for (QTreeWidgetItem* item : items)
        item->setSelected(selected.contains(item->data(0, kCodeRole).toInt()));
    if (currentItem)
        m_list->setCurrentItem(currentItem, 0, QItemSelectionModel::NoUpdate);
    m_list->verticalScrollBar()->setValue(scrolled);
    m_list->setUpdatesEnabled(true);
}

int display::InitialColumnWidth(int column) const {
    return std::max(display_columns::kDefaultWidths[column], TitleWidth(column));
}

int display::TitleWidth(int column) const {
    // The header's own measure: the title at the header's font plus the style's section margins.
    return m_list->header()->sectionSizeHint(column);
}

int display::ColumnWidth(int column) const {
    return m_list->columnWidth(column);
}

void display::SaveColumnWidths() const {
    for (int column = 0; column < DisplayRowStru::kColumns; ++column)
        Settings::WriteProfileString(Settings::kPreferences,
                                     display_columns::kWidthSettings[column],
                                     std::to_string(ColumnWidth(column)));
}

void display::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The ERROR cells take their colour from the theme.
    if (event->type() == QEvent::PaletteChange)
        DoDataExchange();
}
