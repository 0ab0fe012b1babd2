// The Mail Profiles dialog: the profiles (name, default, mail system, transport) with New, Edit,
// Remove and Set as Default. Every change is saved at once, under the lock the command line
// takes; the running monitor reads the profiles again at its next session.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;
class DlgProfileEditor;

class DlgMailProfiles : public QDialog {
    Q_OBJECT
public:
    enum Column { kName, kDefault, kMailSystem, kTransport, kColumns };

    explicit DlgMailProfiles(QWidget* parent);

    QTreeWidget* List() const { return m_list; }
    // The notice below the list: what the last change said (a warning, a refusal).
    QString Notice() const;
    // Reads the profiles file again into the list, keeping the selected profile selected.
    void Reload();

    // Tests: called with each editor before it runs, so that a test can drive it.
    static void SetEditorHook(std::function<void(DlgProfileEditor&)> hook);

    void OnNew();
    void OnEdit();
    void OnRemove();
    void OnSetDefault();

private:
    void RunEditor(DlgProfileEditor& editor);
    QString SelectedName() const;
    void EnableButtons();
    void SetNotice(const QString& text);

    QTreeWidget* m_list;
    QPushButton* m_new;
    QPushButton* m_edit;
    QPushButton* m_remove;
    QPushButton* m_default;
    QLabel* m_notice;
};
