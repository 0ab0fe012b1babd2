// The window-free rules of the user dialogs.
#include "users/DialogRules.h"

#include "users/UserlistStru.h"

#include <QStringDecoder>

QString ToDisplayText(const CString& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

CString FromTypedText(const QString& text) {
    return text.toStdString();
}

bool LessIgnoringCase(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

int SelectStringIndex(const QStringList& items, const QString& text) {
    if (text.isEmpty())
        return -1;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].startsWith(text, Qt::CaseInsensitive))
            return static_cast<int>(i);
    }
    return -1;
}

IntervalText ScanIntervalFromText(const CString& text, int16_t* minutes) {
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > kMaxScanInterval)
            return IntervalText::TooLarge;
    }
    *minutes = static_cast<int16_t>(value < kMinScanInterval ? kMinScanInterval : value);
    return IntervalText::Accepted;
}
