// The main window's status bar: the message pane and the mode pane.
#pragma once

#include <QStatusBar>

class QLabel;

class CMyStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kMessagePaneId = 0;  // prompts, "Ready", "EX:" and the mailbox scanned
    static constexpr int kModePaneId = 61228; // "MONITORING" or "PAUSED"
    // The role in a cluster ("ACTIVE", "STANDBY", "NO CLUSTER"); hidden until one is set, so
    // that a monitor of its own shows the two panes alone.
    static constexpr int kClusterPaneId = 61229;
    static constexpr const char* kIdleText = "Ready";
    static constexpr const char* kModeWidthText = "MONITORING"; // the mode pane is fitted to it

    explicit CMyStatusBar(QWidget* parent = nullptr);

    // Sets the text of the pane with that identifier and redraws it at once; false for an
    // unknown identifier.
    bool SetPaneText(int paneId, const QString& text);
    QString PaneText(int paneId) const;

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* Pane(int paneId) const;
    void FitModePane();

    QLabel* m_messagePane;
    QLabel* m_modePane;
    QLabel* m_clusterPane;
};
