// The Preferences dialog: the mail profile that Outlook and mail sessions log on with.
#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QDialogButtonBox;

class DlgPreferences : public QDialog {
    Q_OBJECT
public:
    static constexpr int kProfileNameControlId = 1160;

    // Loads "Preferences"/"ProfileName" and offers the names of the existing mail profiles.
    explicit DlgPreferences(QWidget* parent = nullptr);

    // The profile name being edited (the field's text).
    QString ProfileName() const;
    // The names offered, in the profiles' own order.
    QStringList SuggestedNames() const;

public slots:
    // Writes the field's text exactly as typed, empty included, and closes with OK.
    void accept() override;
    // Help topic 26.
    void OnHelp();

private:
    QComboBox* m_profileName;
    QDialogButtonBox* m_buttons;
};
