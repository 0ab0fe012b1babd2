// Renders Orvane's windows to PNG files, in the light and the dark theme, so that a person can
// look at them: the main window monitoring the demonstration's users, the about box, the
// Preferences dialog and the help. Usage: orvane_screenshots OUTPUT-DIRECTORY [NAME...]
//
// Every picture is one line of Shots() below: a name and how to open the window to draw.
#include "app/cli/Cli.h"
#include "app/gui/DlgPreferences.h"
#include "app/gui/EventsView.h"
#include "app/gui/HelpAbout.h"
#include "app/gui/HelpWindow.h"
#include "app/gui/OrvaneApp.h"
#include "app/gui/PageWindow.h"
#include "app/gui/profiles/DlgMailProfiles.h"
#include "app/gui/profiles/DlgProfileEditor.h"
#include "app/monitor/UserListPasses.h"
#include "core/CTime.h"
#include "core/Help.h"
#include "mailsystem/Profiles.h"
#include "paging/EventLog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

namespace {

// What a shot can reach: the running program and the demonstration it monitors.
struct ShotContext {
    COrvaneApp* app = nullptr;
    CPageWindow* window = nullptr;
    QString demoDirectory;
    // Windows a shot creates; closed and destroyed once drawn.
    std::vector<std::unique_ptr<QWidget>> made;

    template <typename Widget> Widget* Keep(std::unique_ptr<Widget> widget) {
        Widget* raw = widget.get();
        made.push_back(std::move(widget));
        return raw;
    }
};

struct Shot {
    const char* name;
    // Opens the window to draw and returns it (shown or not; it is shown before drawing).
    std::function<QWidget*(ShotContext&)> open;
};

// Runs the window's cycles until every user that is to be scanned has been, or 20 s passed.
void WaitForScans(CPageWindow& window) {
    const bool scanned = QTest::qWaitFor(
        [&] {
            for (const auto& user : window.LiveUsers().Users())
                if (IsActiveUser(*user) && user->ScanStatus == -1)
                    return false;
            return !window.LiveUsers().IsEmpty();
        },
        20000);
    if (!scanned)
        std::fprintf(stderr, "screenshots: not every user was scanned in time\n");
}

// The profile editor of the demonstration's profile, at its page `page`.
QWidget* Editor(ShotContext& c, int page) {
    mail::Profiles profiles;
    std::string error;
    std::optional<mail::Profile> demo;
    if (profiles.Load(error) && profiles.Find("Demo"))
        demo = *profiles.Find("Demo");
    auto* editor = c.Keep(std::make_unique<DlgProfileEditor>(demo, c.window));
    editor->Pages()->setCurrentIndex(page);
    return editor;
}

std::vector<Shot> Shots() {
    return {
        {"main-window", [](ShotContext& c) -> QWidget* { return c.window; }},
        {"about-box",
         [](ShotContext& c) -> QWidget* { return c.Keep(std::make_unique<CHelpAbout>(c.window)); }},
        {"preferences",
         [](ShotContext& c) -> QWidget* {
             return c.Keep(std::make_unique<DlgPreferences>(c.window));
         }},
        {"help-preferences",
         [](ShotContext& c) -> QWidget* {
             Help().ShowTopic(kHelpContextPreferences);
             return c.app->HelpWindow();
         }},
        {"help-search",
         [](ShotContext& c) -> QWidget* {
             c.app->HelpWindow()->ShowSearch();
             c.app->HelpWindow()->Search(QStringLiteral("pager name"));
             return c.app->HelpWindow();
         }},
        // The list with a failed scan: one calendar of the demonstration is damaged on purpose.
        {"main-window-scan-error",
         [](ShotContext& c) -> QWidget* {
             QFile calendar(c.demoDirectory + "/mail/mailboxes/bcosta/calendar.ics");
             if (calendar.open(QIODevice::WriteOnly | QIODevice::Truncate))
                 calendar.write("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nSUMMARY:cut short\r\n");
             calendar.close();
             for (const auto& user : c.window->LiveUsers().Users())
                 if (user->DisplayName == "Bruno Costa")
                     user->NextScan = CTime(0);
             const bool failed = QTest::qWaitFor(
                 [&] {
                     for (const auto& user : c.window->LiveUsers().Users())
                         if (user->DisplayName == "Bruno Costa")
                             return user->ScanStatus == 0;
                     return true;
                 },
                 10000);
             if (!failed)
                 std::fprintf(stderr, "screenshots: the damaged calendar did not fail its scan\n");
             return c.window;
         }},
        // The events of this run, the failed scan's among them.
        {"events",
         [](ShotContext& c) -> QWidget* {
             c.window->ShowEvents(0);
             return c.window->EventsView();
         }},
        {"mail-profiles",
         [](ShotContext& c) -> QWidget* {
             return c.Keep(std::make_unique<DlgMailProfiles>(c.window));
         }},
        {"profile-editor-sending", [](ShotContext& c) -> QWidget* { return Editor(c, 1); }},
        {"profile-editor-address-list", [](ShotContext& c) -> QWidget* { return Editor(c, 3); }},
    };
}

QPalette DarkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2d, 0x30), base(0x1e, 0x1f, 0x22), text(0xe6, 0xe6, 0xe6);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x28, 0x2b));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    p.setColor(QPalette::Highlight, QColor(0x35, 0x74, 0xc4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xb0, 0xff));
    p.setColor(QPalette::Mid, QColor(0x45, 0x47, 0x4a));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    return p;
}

bool Draw(QWidget* widget, const QString& path) {
    widget->show();
    widget->raise();
    if (!QTest::qWaitForWindowExposed(widget, 5000))
        std::fprintf(stderr, "screenshots: %s was not shown in time\n", qPrintable(path));
    QTest::qWait(200); // lets the last layout and paint settle
    return widget->grab().save(path, "PNG");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orvane_screenshots OUTPUT-DIRECTORY [NAME...]\n");
        return 2;
    }
    // Settings, profiles and the single-instance socket of this run only.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    const QString config = scratch.path() + "/config", runtime = scratch.path() + "/runtime",
                  demo = scratch.path() + "/demo";
    QDir().mkpath(config);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    EventLog::SetSystemLogEnabled(false);

    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QPalette light = QApplication::style()->standardPalette();
    QApplication::setPalette(light);
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QStringList only;
    for (int i = 2; i < argc; ++i)
        only << QString::fromLocal8Bit(argv[i]);
    QDir().mkpath(output);

    std::ostringstream out, err;
    if (cli::Run({"demo", "init", demo.toStdString()}, out, err) != 0) {
        std::fprintf(stderr, "screenshots: the demonstration could not be created: %s\n",
                     err.str().c_str());
        return 1;
    }
    QDir::setCurrent(demo);

    CUserListPasses passes;
    COrvaneApp orvane(runtime, QStringLiteral("orvane-screenshots"));
    orvane.SetPasses(&passes);
    if (!orvane.InitInstance()) {
        std::fprintf(stderr, "screenshots: the main window could not be created\n");
        return 1;
    }
    ShotContext context{&orvane, orvane.MainWindow(), demo, {}};
    WaitForScans(*context.window);

    int failures = 0;
    for (const Shot& shot : Shots()) {
        if (!only.isEmpty() && !only.contains(QString::fromLatin1(shot.name)))
            continue;
        QWidget* widget = shot.open(context);
        for (const bool dark : {false, true}) {
            QApplication::setPalette(dark ? DarkPalette() : light);
            const QString path = output + "/" + shot.name + (dark ? "-dark" : "") + ".png";
            if (Draw(widget, path))
                std::printf("%s\n", qPrintable(path));
            else {
                std::fprintf(stderr, "screenshots: %s could not be written\n", qPrintable(path));
                ++failures;
            }
        }
        QApplication::setPalette(light);
        if (widget != context.window)
            widget->hide();
        context.made.clear();
    }
    return failures == 0 ? 0 : 1;
}
