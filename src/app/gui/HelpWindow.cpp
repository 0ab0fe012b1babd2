// The program's help window.
#include "app/gui/HelpWindow.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

namespace {

constexpr int kFileRole = Qt::UserRole;

} // namespace

CHelpWindow::CHelpWindow(QWidget* parent)
    : QMainWindow(parent), m_tabs(new QTabWidget), m_contents(new QTreeWidget),
      m_query(new QLineEdit), m_results(new QListWidget), m_browser(new QTextBrowser) {
    setObjectName("HelpWindow");
    setWindowTitle(tr("Orvane Help"));
    // Closing the help leaves the program running; closing the main window ends it.
    setAttribute(Qt::WA_QuitOnClose, false);

    m_contents->setObjectName("helpContents");
    m_contents->setHeaderHidden(true);
    m_contents->setRootIsDecorated(true);
    QTreeWidgetItem* chapter = nullptr;
    for (const CHelpPages::Entry& entry : m_pages.Contents()) {
        auto* item = new QTreeWidgetItem(QStringList(entry.title));
        item->setData(0, kFileRole, entry.file);
        if (entry.level > 0 && chapter)
            chapter->addChild(item);
        else {
            m_contents->addTopLevelItem(item);
            chapter = item;
        }
    }
    m_contents->expandAll();
    connect(m_contents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { Open(item->data(0, kFileRole).toString()); });
    connect(m_contents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { Open(item->data(0, kFileRole).toString()); });

    auto* searchPage = new QWidget;
    auto* searchLayout = new QVBoxLayout(searchPage);
    auto* searchLabel = new QLabel(tr("&Words to find:"));
    searchLabel->setBuddy(m_query);
    m_query->setObjectName("helpQuery");
    m_query->setClearButtonEnabled(true);
    auto* find = new QPushButton(tr("&Find"));
    find->setObjectName("helpFind");
    auto* queryRow = new QHBoxLayout;
    queryRow->addWidget(m_query, 1);
    queryRow->addWidget(find);
    m_results->setObjectName("helpResults");
    m_results->setWordWrap(true);
    searchLayout->addWidget(searchLabel);
    searchLayout->addLayout(queryRow);
    searchLayout->addWidget(m_results, 1);
    auto runSearch = [this] { Search(m_query->text()); };
    connect(m_query, &QLineEdit::returnPressed, this, runSearch);
    connect(find, &QPushButton::clicked, this, runSearch);
    auto openResult = [this](QListWidgetItem* item) {
        Open(item->data(kFileRole).toString());
        const QStringList words = m_query->text().simplified().split(QLatin1Char(' '));
        if (!words.isEmpty())
            m_browser->find(words.first());
    };
    connect(m_results, &QListWidget::itemActivated, this, openResult);
    connect(m_results, &QListWidget::itemClicked, this, openResult);

    m_tabs->setObjectName("helpTabs");
    m_tabs->addTab(m_contents, tr("&Contents"));
    m_tabs->addTab(searchPage, tr("&Search"));

    m_browser->setObjectName("helpBrowser");
    // Web addresses go to the desktop's browser; the pages' own links stay here.
    m_browser->setOpenExternalLinks(true);
    m_browser->setSearchPaths({QStringLiteral(":/help")});
    connect(m_browser, &QTextBrowser::sourceChanged, this, &CHelpWindow::OnSourceChanged);
    ApplyStyleSheet();

    auto* splitter = new QSplitter;
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({240, 640});
    setCentralWidget(splitter);

    QToolBar* bar = addToolBar(tr("Help"));
    bar->setObjectName("helpToolBar");
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction* back = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("&Back"));
    back->setShortcut(QKeySequence::Back);
    connect(back, &QAction::triggered, m_browser, &QTextBrowser::backward);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    QAction* forward =
        bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), tr("&Forward"));
    forward->setShortcut(QKeySequence::Forward);
    connect(forward, &QAction::triggered, m_browser, &QTextBrowser::forward);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    back->setEnabled(false);
    forward->setEnabled(false);
    bar->addSeparator();
    QAction* contents =
        bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), tr("C&ontents"));
    connect(contents, &QAction::triggered, this,
            [this] { Open(QString::fromLatin1(CHelpPages::kContentsPage)); });
    QAction* search = bar->addAction(tr("Searc&h"));
    search->setShortcut(QKeySequence::Find);
    connect(search, &QAction::triggered, this, [this] {
        m_tabs->setCurrentIndex(1);
        m_query->setFocus();
        m_query->selectAll();
    });
    QAction* howTo = bar->addAction(tr("&How to Use Help"));
    connect(howTo, &QAction::triggered, this,
            [this] { Open(QString::fromLatin1(CHelpPages::kHowToUseHelpPage)); });
    QAction* close = new QAction(tr("Close"), this);
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);

    resize(900, 640);
    Open(QString::fromLatin1(CHelpPages::kContentsPage));
}

void CHelpWindow::ApplyStyleSheet() {
    // Headings and tables in the theme's own colours, so that a dark desktop reads well.
    const QPalette& p = palette();
    const QString sheet =
        QStringLiteral("h1 { font-size: x-large; margin-bottom: 8px; }"
                       "h2 { font-size: large; margin-top: 14px; }"
                       "th { background-color: %1; text-align: left; }"
                       "td, th { padding: 3px 6px; }"
                       "code { font-family: monospace; }"
                       "a { color: %2; }")
            .arg(p.color(QPalette::AlternateBase).name(), p.color(QPalette::Link).name());
    m_browser->document()->setDefaultStyleSheet(sheet);
    if (!m_browser->source().isEmpty())
        m_browser->reload();
}

void CHelpWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        ApplyStyleSheet();
}

void CHelpWindow::ShowWindow() {
    // A modal dialog blocks input to every other window, the help it asked for included; a window
    // that belongs to the dialog is not blocked, so the help belongs to it while it is open.
    winId();
    QWidget* modal = QApplication::activeModalWidget();
    if (QWindow* window = windowHandle())
        window->setTransientParent(modal && modal != this ? modal->windowHandle() : nullptr);
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CHelpWindow::ShowContents() {
    m_tabs->setCurrentIndex(0);
    Open(QString::fromLatin1(CHelpPages::kContentsPage));
    ShowWindow();
}

void CHelpWindow::ShowSearch() {
    ShowWindow();
    m_tabs->setCurrentIndex(1);
    m_query->setFocus();
    m_query->selectAll();
}

void CHelpWindow::ShowHowToUseHelp() {
    Open(QString::fromLatin1(CHelpPages::kHowToUseHelpPage));
    ShowWindow();
}

void CHelpWindow::ShowTopic(int contextId) {
    const QString file = CHelpPages::FileForContext(contextId);
    Open(file.isEmpty() ? QString::fromLatin1(CHelpPages::kContentsPage) : file);
    ShowWindow();
}

QString CHelpWindow::CurrentPage() const {
    return m_browser->source().fileName();
}

void CHelpWindow::Open(const QString& file) {
    const QUrl url = CHelpPages::Url(file);
    if (m_browser->source() != url)
        m_browser->setSource(url);
}

void CHelpWindow::OnSourceChanged(const QUrl& url) {
    const QString file = url.fileName();
    setWindowTitle(tr("Orvane Help - %1").arg(m_pages.TitleOf(file)));
    QTreeWidgetItemIterator it(m_contents);
    for (; *it; ++it) {
        if ((*it)->data(0, kFileRole).toString() == file) {
            m_contents->setCurrentItem(*it);
            break;
        }
    }
}

void CHelpWindow::Search(const QString& query) {
    m_query->setText(query);
    m_results->clear();
    const QList<CHelpPages::Hit> hits = m_pages.Search(query);
    for (const CHelpPages::Hit& hit : hits) {
        auto* item = new QListWidgetItem(hit.title);
        item->setData(kFileRole, hit.file);
        item->setToolTip(hit.excerpt);
        m_results->addItem(item);
    }
    if (hits.isEmpty() && !query.trimmed().isEmpty()) {
        auto* none = new QListWidgetItem(tr("No page holds all of these words."));
        none->setFlags(Qt::NoItemFlags);
        m_results->addItem(none);
    }
}
