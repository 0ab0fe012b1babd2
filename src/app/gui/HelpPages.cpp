// The help pages.
#include "app/gui/HelpPages.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextDocument>
#include <algorithm>

namespace {

// The contents: every page, in reading order, with its depth.
struct ContentsLine {
    const char* file;
    int level;
};
constexpr ContentsLine kContents[] = {
    {"index.html", 0},
    {"main-window.html", 0},
    {"list-view.html", 1},
    {"tool-bar-and-status-bar.html", 1},
    {"menus.html", 1},
    {"monitoring.html", 0},
    {"paging-hours.html", 1},
    {"out-of-office.html", 1},
    {"setting-up.html", 0},
    {"mail-profile.html", 1},
    {"mail-profiles-dialog.html", 1},
    {"profile-editor.html", 1},
    {"profile-mail-system.html", 1},
    {"profile-sending.html", 1},
    {"profile-calendars.html", 1},
    {"profile-address-list.html", 1},
    {"profile-out-of-office.html", 1},
    {"mail-system.html", 1},
    {"pager-entry.html", 1},
    {"user-list.html", 0},
    {"user-properties.html", 1},
    {"preferences.html", 0},
    {"settings.html", 1},
    {"event-log.html", 0},
    {"events.html", 1},
    {"command-line.html", 0},
    {"sales.html", 0},
    {"support.html", 0},
    {"using-help.html", 0},
};

struct ContextLine {
    int contextId;
    const char* file;
};
constexpr ContextLine kContexts[] = {
    {2, "sales.html"},
    {3, "support.html"},
    {5, "user-properties.html"},
    {21, "user-list.html"},
    {26, "preferences.html"},
    {40, "mail-profiles-dialog.html"},
    {41, "profile-mail-system.html"},
    {42, "profile-sending.html"},
    {43, "profile-calendars.html"},
    {44, "profile-address-list.html"},
    {45, "profile-out-of-office.html"},
    {46, "events.html"},
};

QString ReadPage(const QString& file) {
    QFile page(QStringLiteral(":/help/") + file);
    if (!page.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(page.readAll());
}

QString TitleOfHtml(const QString& html) {
    static const QRegularExpression title(QStringLiteral("<title>(.*?)</title>"),
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = title.match(html);
    return match.hasMatch() ? match.captured(1).simplified() : QString();
}

} // namespace

CHelpPages::CHelpPages() {
    for (const ContentsLine& line : kContents) {
        const QString file = QString::fromLatin1(line.file);
        const QString html = ReadPage(file);
        QTextDocument document;
        document.setHtml(html);
        m_entries.append({file, TitleOfHtml(html), line.level});
        m_texts.append(document.toPlainText());
    }
}

QString CHelpPages::FileForContext(int contextId) {
    for (const ContextLine& line : kContexts)
        if (line.contextId == contextId)
            return QString::fromLatin1(line.file);
    return QString();
}

QUrl CHelpPages::Url(const QString& file) {
    return QUrl(QStringLiteral("qrc:/help/") + file);
}

QString CHelpPages::TitleOf(const QString& file) const {
    for (const Entry& entry : m_entries)
        if (entry.file == file)
            return entry.title;
    return QString();
}

QString CHelpPages::TextOf(const QString& file) const {
    for (int i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].file == file)
            return m_texts[i];
    return QString();
}

QList<CHelpPages::Hit> CHelpPages::Search(const QString& query) const {
    const QStringList words = query.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QList<Hit> hits;
    if (words.isEmpty())
        return hits;
    for (int i = 0; i < m_entries.size(); ++i) {
        const QString& text = m_texts[i];
        const QString title = m_entries[i].title;
        int score = 0;
        bool all = true;
        for (const QString& word : words) {
            const int inText = text.count(word, Qt::CaseInsensitive);
            if (inText == 0) {
                all = false;
                break;
            }
            // A word in the title says more about the page than one in passing.
            score += inText + 10 * title.count(word, Qt::CaseInsensitive);
        }
        if (!all)
            continue;
        Hit hit{m_entries[i].file, title, score, QString()};
        const int at = text.indexOf(words.first(), 0, Qt::CaseInsensitive);
        const int from = std::max(0, at - 40);
        hit.excerpt = text.mid(from, 120).simplified();
        if (from > 0)
            hit.excerpt.prepend(QStringLiteral("..."));
        hits.append(hit);
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.score > b.score; });
    return hits;
}
