// The main window.
#include "app/PageWindow.h"

#include "users/DlgUserList.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimerEvent>
#include <QToolBar>

CPageWindow::CPageWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(kTitle);
    setObjectName("PageWindow");
}

CPageWindow::~CPageWindow() {
    if (!m_destroyed) {
        m_destroyed = true;
        OnDestroy();
    }
    if (&StatusText() == this)
        SetStatusText(nullptr);
}

bool CPageWindow::Create() {
    return OnCreate();
}

bool CPageWindow::CreateBars() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* exit = file->addAction(tr("E&xit"));
    exit->setObjectName("actionExit");
    exit->setStatusTip(tr("Quit the application"));
    connect(exit, &QAction::triggered, this, [this] { OnAppExit(); });

    QToolBar* toolBar = addToolBar(tr("Tool Bar"));
    toolBar->setObjectName("toolBar");
    toolBar->setMovable(false);
    m_pauseAction = toolBar->addAction(style()->standardIcon(QStyle::SP_MediaPause), tr("Pause"));
    m_pauseAction->setObjectName("actionPause");
    m_pauseAction->setCheckable(true);
    m_pauseAction->setStatusTip(tr("Pause processing of page reminders."));
    connect(m_pauseAction, &QAction::triggered, this, [this] {
        OnActionPause();
        m_pauseAction->setChecked(IsPaused()); // pressed exactly while paused
    });

    m_messagePane = new QLabel(tr("Ready"));
    m_messagePane->setObjectName("messagePane");
    m_modePane = new QLabel(QString::fromLatin1(kMonitoringText));
    m_modePane->setObjectName("modePane");
    m_modePane->setMinimumWidth(m_modePane->sizeHint().width()); // fitted to "MONITORING"
    statusBar()->addWidget(m_messagePane, 1);
    statusBar()->addPermanentWidget(m_modePane);
    SetStatusText(this);
    return true;
}

void CPageWindow::SetMessageText(const CString& text) {
    if (m_messagePane) {
        m_messagePane->setText(QString::fromStdString(text));
        m_messagePane->repaint();
    }
}

QString CPageWindow::MessageText() const {
    return m_messagePane ? m_messagePane->text() : QString();
}
QString CPageWindow::ModeText() const {
    return m_modePane ? m_modePane->text() : QString();
}

void CPageWindow::timerEvent(QTimerEvent*) {
    OnTimer();
}

void CPageWindow::closeEvent(QCloseEvent* event) {
    if (!OnSysClose()) {
        event->ignore();
        return;
    }
    if (!m_destroyed) {
        m_destroyed = true;
        OnDestroy();
    }
    event->accept();
}

unsigned CPageWindow::StartTimer(unsigned, unsigned periodMs) {
    const int id = startTimer(static_cast<int>(periodMs));
    return id > 0 ? static_cast<unsigned>(id) : 0;
}

void CPageWindow::StopTimer(unsigned timerId) {
    killTimer(static_cast<int>(timerId));
}

void CPageWindow::SetModeText(const CString& text) {
    if (m_modePane) {
        m_modePane->setText(QString::fromStdString(text));
        m_modePane->repaint();
    }
}

void CPageWindow::PostCloseRequest() {
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
}

bool CPageWindow::RunUserListDialog(CUserList& workingCopy) {
    DlgUserList dialog(&workingCopy, this);
    return dialog.DoModal() == IDOK;
}
