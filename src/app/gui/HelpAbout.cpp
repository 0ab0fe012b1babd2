// The about box.
#include "app/gui/HelpAbout.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSvgRenderer>

namespace {

// Where the button and the lines sit on the picture, in its own pixels.
constexpr QPoint kOkPosition(20, 260);
constexpr QPoint kLine1112Position(20, 210);
constexpr QPoint kLine1060Position(20, 195);
constexpr int kLinePixelHeight = 14;

} // namespace

CHelpAbout::CHelpAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_picture(new QSvgRenderer(QStringLiteral(":/images/about.svg"), this)),
      m_line1060(new QLabel(this)), m_line1112(new QLabel(this)),
      m_ok(new QPushButton(tr("OK"), this)) {
    setObjectName("HelpAbout");
    setWindowTitle(tr("About Orvane"));
    setModal(true);
    m_line1060->setObjectName("line1060");
    m_line1112->setObjectName("line1112");
    m_ok->setObjectName("okButton");
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    OnInitDialog();
}

CHelpAbout::~CHelpAbout() = default;

void CHelpAbout::OnInitDialog() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kLinePixelHeight);
    // The picture is light whatever the theme, so the lines keep their own dark ink.
    QPalette ink = m_line1060->palette();
    ink.setColor(QPalette::WindowText, QColor(0x1d, 0x2b, 0x3a));
    for (QLabel* line : {m_line1060, m_line1112}) {
        line->setFont(font);
        line->setPalette(ink);
        line->setTextFormat(Qt::PlainText);
    }

    setFixedSize(kWidth, kHeight);
    QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, kWidth, kHeight);
    const QPoint origin(area.x() + area.width() / 2 - kWidth / 2,
                        area.y() + area.height() / 2 - kHeight / 2);
    move(origin);

    m_line1060->setText(tr("Orvane %1").arg(QStringLiteral(ORVANE_VERSION)));
    m_line1112->setText(tr("Pages calendar and task reminders. Made by Quorvik."));
    for (QLabel* line : {m_line1060, m_line1112})
        line->adjustSize();
    m_ok->adjustSize();
    m_ok->move(kOkPosition);
    m_line1112->move(kLine1112Position);
    m_line1060->move(kLine1060Position);
}

QString CHelpAbout::FirstLine() const {
    return m_line1060->text();
}
QString CHelpAbout::SecondLine() const {
    return m_line1112->text();
}

void CHelpAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred on the screen the box opens on, also when that is not the primary one.
    QScreen* at = screen();
    if (at) {
        const QRect area = at->geometry();
        move(area.x() + area.width() / 2 - kWidth / 2, area.y() + area.height() / 2 - kHeight / 2);
    }
    m_ok->setFocus();
}

void CHelpAbout::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn from vectors at the screen's own resolution, so it stays sharp at any scale.
    const QSize size = m_picture->defaultSize();
    const QRect target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(),
                       size.height());
    m_picture->render(&painter, target);
    // The thin border of a window without a caption.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(0x5a, 0x6b, 0x7d));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
