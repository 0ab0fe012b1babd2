// Renders the user dialogs with the demo's users and address list.
#include "UserDialogShots.h"

#include "core/WorkingDirectory.h"
#include "users/CUserList.h"
#include "users/DlgUserList.h"
#include "users/DlgUserProps.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <unistd.h>

namespace {

// Lets the window system map and paint what was just shown.
void Settle() {
    for (int i = 0; i < 25; ++i) {
        QApplication::processEvents();
        QThread::msleep(20);
    }
}

bool Save(const QPixmap& pixmap, const QString& path, QStringList& written, QString& error) {
    if (pixmap.isNull() || !pixmap.save(path, "PNG")) {
        error = "cannot write " + path;
        return false;
    }
    written.append(path);
    return true;
}

// The widget as drawn, or under a real window system the screen around it and its pop-up.
QPixmap Shot(QWidget* window, QWidget* popup = nullptr) {
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !popup)
        return window->grab();
    QRect area = window->frameGeometry();
    area = area.united(popup->window()->frameGeometry()).adjusted(-8, -8, 8, 8);
    return window->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

UserlistStru* FindUser(const CUserList& list, const char* displayName) {
    for (const auto& user : list.Users()) {
        if (user->DisplayName == displayName)
            return user.get();
    }
    return nullptr;
}

} // namespace

QStringList RenderUserDialogs(const QString& demoDirectory, const QString& outputDirectory,
                              QString& error) {
    QStringList written;
    if (!QDir().mkpath(outputDirectory)) {
        error = "cannot create " + outputDirectory;
        return {};
    }
    const QString out = QDir(outputDirectory).absolutePath() + '/';
    if (chdir(QFile::encodeName(demoDirectory).constData()) != 0 || !WorkingDirectory::Capture()) {
        error = "cannot enter " + demoDirectory;
        return {};
    }
    CUserList users;
    if (users.LoadUsers().status != UserFileLoad::Loaded) {
        error = "cannot read the demo's Users.dat in " + demoDirectory;
        return {};
    }

    DlgUserList list(&users);
    list.show();
    Settle();
    if (list.Entries().empty()) {
        error = "the demo's address list could not be read";
        return {};
    }
    // One user selected, so that Edit and Remove show enabled.
    auto* box = list.findChild<QListWidget*>("userList");
    const QList<QListWidgetItem*> chen = box->findItems("Chen Wei", Qt::MatchExactly);
    if (!chen.isEmpty()) {
        box->setCurrentItem(chen.front());
        chen.front()->setSelected(true);
    }
    box->setFocus();
    Settle();
    if (!Save(Shot(&list), out + "user-list.png", written, error))
        return {};

    UserlistStru* alice = FindUser(list.Working(), "Alice Archer");
    if (!alice) {
        error = "the demo has no user Alice Archer";
        return {};
    }
    {
        DlgUserProps edit(alice, list.Names(), list.Entries(), &list);
        edit.show();
        Settle();
        if (!Save(Shot(&edit), out + "user-properties.png", written, error))
            return {};
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            auto* pager = edit.findChild<QComboBox*>("pagerCombo");
            pager->showPopup();
            Settle();
            if (!Save(Shot(&edit, pager->view()), out + "user-properties-pager-list.png", written,
                      error))
                return {};
            pager->hidePopup();
        }
        edit.reject();
    }
    {
        UserlistStru fresh;
        DlgUserProps add(&fresh, list.Names(), list.Entries(), &list);
        add.show();
        Settle();
        if (!Save(Shot(&add), out + "user-properties-new.png", written, error))
            return {};
        add.reject();
    }
    list.reject();
    return written;
}
