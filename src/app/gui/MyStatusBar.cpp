// The main window's status bar.
#include "app/gui/MyStatusBar.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>

CMyStatusBar::CMyStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName("statusBar");
    setSizeGripEnabled(true);
    m_messagePane = new QLabel(QString::fromLatin1(kIdleText), this);
    m_messagePane->setObjectName("messagePane");
    m_messagePane->setTextFormat(Qt::PlainText);
    // A long mailbox name must not widen the window.
    m_messagePane->setMinimumWidth(1);
    m_messagePane->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_modePane = new QLabel(QString::fromLatin1(kModeWidthText), this);
    m_modePane->setObjectName("modePane");
    m_modePane->setTextFormat(Qt::PlainText);
    m_modePane->setAlignment(Qt::AlignCenter);
    m_modePane->setFrameShape(QFrame::StyledPanel);
    m_modePane->setFrameShadow(QFrame::Sunken);
    m_clusterPane = new QLabel(this);
    m_clusterPane->setObjectName("clusterPane");
    m_clusterPane->setTextFormat(Qt::PlainText);
    m_clusterPane->setAlignment(Qt::AlignCenter);
    m_clusterPane->setFrameShape(QFrame::StyledPanel);
    m_clusterPane->setFrameShadow(QFrame::Sunken);
    m_clusterPane->hide();
    addWidget(m_messagePane, 1);
    addPermanentWidget(m_clusterPane);
    addPermanentWidget(m_modePane);
    FitModePane();
}

QLabel* CMyStatusBar::Pane(int paneId) const {
    switch (paneId) {
    case kMessagePaneId:
        return m_messagePane;
    case kModePaneId:
        return m_modePane;
    case kClusterPaneId:
        return m_clusterPane;
    default:
        return nullptr;
    }
}

bool CMyStatusBar::SetPaneText(int paneId, const QString& text) {
    QLabel* pane = Pane(paneId);
    if (!pane)
        return false;
    pane->setText(text);
    if (pane == m_clusterPane)
        pane->setVisible(!text.isEmpty());
    // A scan blocks the event loop; the pane shows the mailbox before the scan begins.
    if (pane->isVisible())
        pane->repaint();
    return true;
}

QString CMyStatusBar::PaneText(int paneId) const {
    const QLabel* pane = Pane(paneId);
    return pane ? pane->text() : QString();
}

void CMyStatusBar::FitModePane() {
    // Fitted to "MONITORING" whatever it shows, so that "PAUSED" does not move the message pane.
    const int text =
        m_modePane->fontMetrics().horizontalAdvance(QString::fromLatin1(kModeWidthText));
    const int frame = 2 * m_modePane->frameWidth();
    const int margin = m_modePane->fontMetrics().averageCharWidth() * 2;
    m_modePane->setFixedWidth(text + frame + margin);
}

void CMyStatusBar::changeEvent(QEvent* event) {
    QStatusBar::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        FitModePane();
}

void CMyStatusBar::paintEvent(QPaintEvent* event) {
    QStatusBar::paintEvent(event);
    // The border along the top edge, in the theme's own shade.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, 0, width() - 1, 0);
}
