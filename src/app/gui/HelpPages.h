// The help pages shipped with the program: their contents, the topics by context number, and a
// search over every page.
#pragma once

#include <QList>
#include <QString>
#include <QUrl>

class CHelpPages {
public:
    struct Entry {
        QString file;  // e.g. "list-view.html"
        QString title; // the page's <title>
        int level = 0; // 0 for a chapter, 1 for a page inside the chapter above it
    };
    struct Hit {
        QString file;
        QString title;
        int score = 0;   // how often the words occur; the best page first
        QString excerpt; // the text around the first occurrence
    };

    static constexpr const char* kContentsPage = "index.html";
    static constexpr const char* kHowToUseHelpPage = "using-help.html";

    // Reads every page of the contents from the program's resources.
    CHelpPages();

    // The contents, in reading order.
    const QList<Entry>& Contents() const { return m_entries; }
    // The page of a context number (2, 3, 5, 21, 26, 40 to 46); empty for an unknown number.
    static QString FileForContext(int contextId);
    // Where a page is read from.
    static QUrl Url(const QString& file);
    // The title of a page of the contents; empty when it has none.
    QString TitleOf(const QString& file) const;
    // The plain text of a page (tags and entities removed).
    QString TextOf(const QString& file) const;

    // The pages that hold every word of `query` (case ignored), the most occurrences first;
    // an empty query finds nothing.
    QList<Hit> Search(const QString& query) const;

private:
    QList<Entry> m_entries;
    QList<QString> m_texts; // plain text, parallel to m_entries
};
