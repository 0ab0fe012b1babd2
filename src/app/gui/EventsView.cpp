// The Events view.
#include "app/gui/EventsView.h"

#include "app/gui/Placement.h"
#include "core/Help.h"
#include "core/Settings.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstdlib>

namespace {
constexpr int kCodeRole = Qt::UserRole;
constexpr const char* kPlaceKeys[] = {"EventsLeft", "EventsTop", "EventsRight", "EventsBottom"};
} // namespace

CEventsView::CEventsView(const CUserList& users, QWidget* parent)
    : QWidget(parent, Qt::Window), m_users(users), m_user(new QComboBox(this)),
      m_type(new QComboBox(this)), m_list(new QTreeWidget(this)), m_notice(new QLabel(this)) {
    setObjectName("EventsView");
    setWindowTitle(tr("Events"));

    m_user->setObjectName("userFilter");
    m_user->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* userLabel = new QLabel(tr("&User"), this);
    userLabel->setBuddy(m_user);
    m_type->setObjectName("typeFilter");
    m_type->addItem(tr("All types"), QString());
    m_type->addItem(tr("Errors"), QStringLiteral("error"));
    m_type->addItem(tr("Information"), QStringLiteral("information"));
    auto* typeLabel = new QLabel(tr("&Type"), this);
    typeLabel->setBuddy(m_type);
    auto* refresh = new QPushButton(tr("&Refresh"), this);
    refresh->setObjectName("refreshButton");
    auto* filters = new QHBoxLayout;
    filters->addWidget(userLabel);
    filters->addWidget(m_user);
    filters->addSpacing(12);
    filters->addWidget(typeLabel);
    filters->addWidget(m_type);
    filters->addStretch(1);
    filters->addWidget(refresh);

    m_list->setObjectName("eventList");
    m_list->setColumnCount(kColumns);
    m_list->setHeaderLabels({tr("Time"), tr("Type"), tr("Text")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setWordWrap(false);
    m_list->header()->setStretchLastSection(true);
    const QFontMetrics metrics(m_list->font());
    m_list->setColumnWidth(kTime,
                           metrics.horizontalAdvance(QStringLiteral("00/00/00 00:00:00")) + 24);
    m_list->setColumnWidth(kType, metrics.horizontalAdvance(tr("information")) + 24);
    m_notice->setObjectName("notice");
    m_notice->setWordWrap(true);
    m_notice->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [] { Help().ShowTopic(kHelpContextEvents); });
    new QShortcut(QKeySequence::HelpContents, this, this,
                  [] { Help().ShowTopic(kHelpContextEvents); });
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_notice);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(720, 420);

    connect(m_user, &QComboBox::currentIndexChanged, this, &CEventsView::Refill);
    connect(m_type, &QComboBox::currentIndexChanged, this, &CEventsView::Refill);
    connect(refresh, &QPushButton::clicked, this, &CEventsView::Reload);
    m_poll.setInterval(1000);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (EventLog::SessionSerial() != m_seenSerial)
            Reload();
    });
    FillUsers();
}

QString CEventsView::Notice() const {
    return m_notice->isHidden() ? QString() : m_notice->text();
}

void CEventsView::FillUsers() {
    const int16_t keep = static_cast<int16_t>(m_user->currentData(kCodeRole).toInt());
    const QSignalBlocker quiet(m_user);
    m_user->clear();
    m_user->addItem(tr("All users"), 0);
    std::vector<const UserlistStru*> sorted;
    for (const auto& user : m_users.Users())
        sorted.push_back(&*user);
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) {
        return QString::fromStdString(a->DisplayName)
                   .compare(QString::fromStdString(b->DisplayName), Qt::CaseInsensitive) < 0;
    });
    for (const UserlistStru* user : sorted)
        m_user->addItem(QString::fromStdString(user->DisplayName), user->Code);
    const int index = m_user->findData(keep);
    m_user->setCurrentIndex(index < 0 ? 0 : index);
}

void CEventsView::ShowFiltered(int16_t code) {
    FillUsers();
    const int index = m_user->findData(code);
    {
        const QSignalBlocker quiet(m_user);
        m_user->setCurrentIndex(index < 0 ? 0 : index);
    }
    Reload();
    show();
    if (!m_placed)
        RestorePlace(); // once shown: the frame around it is known then
    raise();
    activateWindow();
    m_poll.start();
}

void CEventsView::Reload() {
    m_seenSerial = EventLog::SessionSerial();
    const std::vector<events::EventRow> session = events::RowsOf(EventLog::SessionEntries());
    QStringList notes;
    const char* file = std::getenv(EventLog::kFileVariable);
    if (file && *file) {
        size_t skipped = 0;
        std::string error;
        if (!events::ReadEventFile(file, kFileTailBytes, m_fileRows, skipped, error))
            notes << QString::fromStdString(error);
        else if (skipped)
            notes << tr("%1 lines of the event file %2 are no events and were skipped.")
                         .arg(skipped)
                         .arg(QString::fromLocal8Bit(file));
    } else {
        m_fileRows.clear();
    }
    m_rows = events::Merge(session, m_fileRows);
    m_notice->setText(notes.join(QLatin1Char('\n')));
    m_notice->setVisible(!notes.isEmpty());
    Refill();
}

void CEventsView::Refill() {
    events::EventFilter filter;
    const int16_t code = static_cast<int16_t>(m_user->currentData().toInt());
    if (code != 0) {
        for (const auto& user : m_users.Users())
            if (user->Code == code)
                filter = events::FilterForUser(*user);
    }
    filter.type = m_type->currentData().toString().toStdString();
    m_list->setUpdatesEnabled(false);
    m_list->clear();
    QList<QTreeWidgetItem*> items;
    for (const events::EventRow& row : m_rows) {
        if (!events::Matches(row, filter))
            continue;
        auto* item = new QTreeWidgetItem;
        item->setText(kTime, QDateTime::fromSecsSinceEpoch(row.time).toString(
                                 QStringLiteral("MM/dd/yy HH:mm:ss")));
        item->setText(kType, QString::fromStdString(row.type));
        item->setText(kText, QString::fromStdString(row.text));
        item->setToolTip(kText, item->text(kText));
        items.append(item);
    }
    m_list->addTopLevelItems(items);
    m_list->setUpdatesEnabled(true);
}

void CEventsView::RestorePlace() {
    m_placed = true;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        const CString stored = Settings::GetProfileString(Settings::kDisplay, kPlaceKeys[i], "");
        if (stored.empty())
            return;
        values[i] = Settings::TextToInt(stored);
    }
    const QRect saved(QPoint(values[0], values[1]), QPoint(values[2] - 1, values[3] - 1));
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens << screen->geometry();
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    const QRect place = placement::Mend(saved, screens, primary->geometry(),
                                        primary->availableGeometry(), frameGeometry().size());
    // The saved rectangle is the outer one, frame included.
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    setGeometry(place.marginsRemoved(frame));
}

void CEventsView::SavePlace() {
    if (!m_placed || isMinimized())
        return;
    const QRect outer = frameGeometry();
    const int values[4] = {outer.left(), outer.top(), outer.left() + outer.width(),
                           outer.top() + outer.height()};
    for (int i = 0; i < 4; ++i)
        Settings::WriteProfileString(Settings::kDisplay, kPlaceKeys[i], std::to_string(values[i]));
}

void CEventsView::closeEvent(QCloseEvent* event) {
    SavePlace();
    QWidget::closeEvent(event);
}

void CEventsView::hideEvent(QHideEvent* event) {
    m_poll.stop();
    QWidget::hideEvent(event);
}
