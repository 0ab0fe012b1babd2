// The program's help window: contents, search, and the pages shipped with the program.
#pragma once

#include "app/gui/HelpPages.h"
#include "core/Help.h"

#include <QMainWindow>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

class CHelpWindow : public QMainWindow, public IHelp {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);

    void ShowContents() override;
    void ShowSearch() override;
    void ShowHowToUseHelp() override;
    void ShowTopic(int contextId) override;

    // The page shown, e.g. "preferences.html".
    QString CurrentPage() const;
    const CHelpPages& Pages() const { return m_pages; }

    // Runs the search in the Search tab for `query` and lists what it found.
    void Search(const QString& query);

private:
    void Open(const QString& file);
    void ShowWindow();
    void OnSourceChanged(const QUrl& url);
    void ApplyStyleSheet();

protected:
    void changeEvent(QEvent* event) override;

private:
    CHelpPages m_pages;
    QTabWidget* m_tabs;
    QTreeWidget* m_contents;
    QLineEdit* m_query;
    QListWidget* m_results;
    QTextBrowser* m_browser;
};
