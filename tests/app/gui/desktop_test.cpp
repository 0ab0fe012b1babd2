// The desktop program started as it is for real (COrvaneApp): placement and column widths across
// restarts, a second copy brought forward, the about box, Preferences, the help commands, F1 and
// Print Setup.
#include "app/gui/Display.h"
#include "app/gui/DlgPreferences.h"
#include "app/gui/HelpAbout.h"
#include "app/gui/HelpWindow.h"
#include "app/gui/OrvaneApp.h"
#include "app/gui/PageWindow.h"
#include "app/gui/Placement.h"
#include "core/Help.h"
#include "core/Settings.h"
#include "mailsystem/Profiles.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testing_support;

// Records the web addresses the program hands to the desktop's browser.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened.append(url); }
};

namespace {

// Records the help requests of the dialogs.
class RecordedHelp : public IHelp {
public:
    RecordedHelp() : m_previous(SetHelp(this)) {}
    ~RecordedHelp() override { SetHelp(m_previous); }
    std::vector<int> topics;
    void ShowContents() override { topics.push_back(-1); }
    void ShowSearch() override { topics.push_back(-2); }
    void ShowHowToUseHelp() override { topics.push_back(-3); }
    void ShowTopic(int contextId) override { topics.push_back(contextId); }

private:
    IHelp* m_previous;
};

QString Stored(const char* section, const char* name) {
    return QString::fromStdString(Settings::GetProfileString(section, name, "(absent)"));
}

void Store(const char* section, const char* name, int value) {
    Settings::WriteProfileString(section, name, std::to_string(value));
}

// Runs `act` on the modal window once it is open (from inside its event loop), then closes it
// if `act` left it open, so that a failed check cannot leave the test waiting.
void WhenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000)) {
            ADD_FAILURE() << "no modal window opened";
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        act(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && dialog->isVisible())
            dialog->reject();
    });
}

void LeaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toLocal8Bit();
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

QRect PrimaryScreen() {
    return QGuiApplication::primaryScreen()->geometry();
}

class DesktopTest : public ::testing::Test {
protected:
    DesktopTest() : m_cwd(m_dir.Path()) {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Quorvik", "Orvane").clear();
        ::chmod(m_runtime.Path().c_str(), 0700);
    }
    ~DesktopTest() override { Stop(); }

    // Starts the program; `key` names the desktop (the real one of an offscreen run by default).
    COrvaneApp& Start(const QString& key = CSingleInstance::DesktopKey("offscreen", "")) {
        m_app.emplace(Runtime(), key);
        EXPECT_TRUE(m_app->InitInstance());
        EXPECT_TRUE(m_app->MainWindow() && QTest::qWaitForWindowExposed(m_app->MainWindow()));
        return *m_app;
    }
    // Ends it as the close box does.
    void Stop() {
        if (!m_app)
            return;
        if (m_app->MainWindow())
            m_app->MainWindow()->close();
        m_app.reset();
    }
    CPageWindow& Window() { return *m_app->MainWindow(); }
    QString Runtime() const { return QString::fromStdString(m_runtime.Path()); }

    QAction* Command(const char* name) {
        auto* action = Window().findChild<QAction*>(name);
        EXPECT_NE(action, nullptr) << name;
        return action;
    }

    TempDir m_dir, m_runtime;
    ScopedWorkingDirectory m_cwd;
    std::optional<COrvaneApp> m_app;
};

// Starts the real program as a second copy on the offscreen desktop, from another directory,
// while this process's event loop runs for the first copy.
struct SecondCopy {
    int exitCode = -1;
    QByteArray output;
    bool createdWindow = true;
};
SecondCopy StartSecondCopy(const QString& runtime) {
    TempDir elsewhere;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(QString::fromStdString(elsewhere.Path()));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromLocal8Bit(qgetenv("ORVANE_BUILD_BIN")) + "/orvane", {});
    SecondCopy result;
    if (!process.waitForStarted(10000) ||
        !QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAll();
    // A window would have locked the directory it monitors.
    result.createdWindow = QFile::exists(QString::fromStdString(elsewhere.File("Orvane.lock")));
    return result;
}

} // namespace

TEST_F(DesktopTest, TheFirstStartIsCentredAroundTheListViewAtItsDefaultSize) {
    Start();
    const QRect outer = Window().frameGeometry();
    EXPECT_EQ(outer, placement::Centred(outer.size(), PrimaryScreen()));
    // The window is as large as its bars around the list at its default size, and no smaller
    // than its minimum.
    const QSize list = Window().Display()->ListControl()->size();
    EXPECT_EQ(list.width(), Window().Display()->DefaultListWidth());
    EXPECT_GE(list.width(), display::kDefaultListWidth);
    EXPECT_GE(list.height(), display::kDefaultListHeight);
    EXPECT_GE(outer.height(), CPageWindow::kMinimumHeight);
    EXPECT_TRUE(Window().Display()->ListControl()->hasFocus());
    EXPECT_EQ(Window().windowTitle(), "Orvane");
    EXPECT_FALSE(QApplication::windowIcon().isNull());
}

TEST_F(DesktopTest, PlacementAndColumnWidthsSurviveARestart) {
    Start();
    Window().SetOuterGeometry(QRect(40, 50, 500, 420));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Window().frameGeometry() == QRect(40, 50, 500, 420); }, 2000))
        << "at " << Window().frameGeometry().x() << "," << Window().frameGeometry().y();
    Window().Display()->ListControl()->setColumnWidth(0, 201);
    Window().Display()->ListControl()->setColumnWidth(2, 40);
    Stop();
    EXPECT_EQ(Stored("Display", "Top"), "50");
    EXPECT_EQ(Stored("Display", "Bottom"), "470");
    EXPECT_EQ(Stored("Display", "Left"), "40");
    EXPECT_EQ(Stored("Display", "Right"), "540");
    EXPECT_EQ(Stored("Preferences", "Column1Width"), "201");
    EXPECT_EQ(Stored("Preferences", "Column2Width"), "141");
    EXPECT_EQ(Stored("Preferences", "Column3Width"), "40");

    Start();
    EXPECT_EQ(Window().frameGeometry(), QRect(40, 50, 500, 420));
    EXPECT_EQ(Window().Display()->ColumnWidth(0), 201);
    EXPECT_EQ(Window().Display()->ColumnWidth(1), 141);
    EXPECT_EQ(Window().Display()->ColumnWidth(2), 40);
}

TEST_F(DesktopTest, ASavedRectangleOnNoScreenIsCentredAndOnePartlyOnIsKept) {
    const QRect screen = PrimaryScreen();
    struct Row {
        const char* what;
        QRect saved;
        QRect expected;
    } rows[] = {
        {"beyond the right edge", QRect(screen.right() + 500, 100, 500, 400),
         placement::Centred(QSize(500, 400), screen)},
        {"above the top", QRect(50, -2000, 480, 410), placement::Centred(QSize(480, 410), screen)},
        {"partly off the right edge", QRect(screen.right() - 100, 100, 500, 400),
         QRect(screen.right() - 100, 100, 500, 400)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Store("Display", "Left", row.saved.left());
        Store("Display", "Top", row.saved.top());
        Store("Display", "Right", row.saved.left() + row.saved.width());
        Store("Display", "Bottom", row.saved.top() + row.saved.height());
        Start();
        EXPECT_EQ(Window().frameGeometry(), row.expected);
        Stop();
    }
}

TEST_F(DesktopTest, AMinimisedWindowKeepsTheSavedPlacementAndAMaximisedOneSavesItsRectangle) {
    Start();
    Window().SetOuterGeometry(QRect(30, 40, 520, 430));
    Stop();
    Start();
    Window().showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window().isMinimized(); }, 2000));
    Stop();
    EXPECT_EQ(Stored("Display", "Left"), "30");
    EXPECT_EQ(Stored("Display", "Bottom"), "470");

    Start();
    Window().showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window().isMaximized(); }, 2000));
    const QRect maximised = Window().frameGeometry();
    Stop();
    Start();
    EXPECT_FALSE(Window().isMaximized()) << "the next start uses it as a normal window";
    EXPECT_EQ(Window().frameGeometry(), maximised);
}

TEST_F(DesktopTest, SigtermClosesTheWindowAsExitDoesAndSavesItsPlacement) {
    Start();
    Window().SetOuterGeometry(QRect(60, 70, 480, 400));
    QTest::qWait(20);
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Window().isVisible(); }, 5000));
    EXPECT_EQ(Stored("Display", "Left"), "60");
    EXPECT_EQ(Stored("Display", "Bottom"), "470");
}

TEST_F(DesktopTest, TheWindowCannotBeMadeSmallerThan324By384) {
    Start();
    Window().SetOuterGeometry(QRect(10, 10, 100, 100));
    QTest::qWait(50);
    EXPECT_EQ(Window().frameGeometry().size(), QSize(324, 384));
    Window().resize(50, 50);
    EXPECT_EQ(Window().frameGeometry().size(), QSize(324, 384));
}

TEST_F(DesktopTest, ASecondCopyRestoresAMinimisedFirstAndEndsWithStatusZero) {
    Start();
    Window().showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window().isMinimized(); }, 2000));
    const SecondCopy second = StartSecondCopy(Runtime());
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.output, QByteArray()) << second.output.constData();
    EXPECT_FALSE(second.createdWindow);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !Window().isMinimized() && Window().isVisible(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Window().isActiveWindow(); }, 2000));
}

TEST_F(DesktopTest, ASecondCopyBringsTheOpenMessageBoxToTheFront) {
    Start();
    QMessageBox box(QMessageBox::Information, "Quit Notice", "Waiting.", QMessageBox::Ok,
                    &Window());
    bool boxOnTop = false, windowRestored = false;
    SecondCopy second;
    WhenModal([&](QWidget* modal) {
        EXPECT_EQ(modal, &box);
        Window().showMinimized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return Window().isMinimized(); }, 2000));
        second = StartSecondCopy(Runtime());
        windowRestored = QTest::qWaitFor([&] { return !Window().isMinimized(); }, 2000);
        boxOnTop = QTest::qWaitFor([&] { return QApplication::activeWindow() == &box; }, 2000);
    });
    box.exec();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_TRUE(windowRestored);
    EXPECT_TRUE(boxOnTop);
}

TEST_F(DesktopTest, AStaleSocketDoesNotBlockAStart) {
    CSingleInstance probe(Runtime(), CSingleInstance::DesktopKey("offscreen", ""));
    LeaveStaleSocket(probe.SocketPath());
    Start();
    EXPECT_TRUE(Window().isVisible());
    EXPECT_TRUE(m_app->Instance().IsListening());
}

TEST_F(DesktopTest, TheAboutBoxIs450By300CentredAndClosesWithOkOrEscape) {
    Start();
    for (const bool useEscape : {false, true}) {
        bool checked = false;
        WhenModal([&](QWidget* modal) {
            auto* about = qobject_cast<CHelpAbout*>(modal);
            ASSERT_NE(about, nullptr);
            EXPECT_EQ(about->size(), QSize(450, 300));
            const QRect screen = PrimaryScreen();
            EXPECT_EQ(about->pos(), QPoint(screen.width() / 2 - 225, screen.height() / 2 - 150));
            auto* ok = about->findChild<QPushButton*>("okButton");
            ASSERT_NE(ok, nullptr);
            EXPECT_EQ(ok->pos(), QPoint(20, 260));
            EXPECT_EQ(about->findChild<QWidget*>("line1060")->pos(), QPoint(20, 195));
            EXPECT_EQ(about->findChild<QWidget*>("line1112")->pos(), QPoint(20, 210));
            EXPECT_TRUE(about->FirstLine().startsWith("Orvane "));
            if (useEscape)
                QTest::keyClick(about, Qt::Key_Escape);
            else
                QTest::mouseClick(ok, Qt::LeftButton);
            checked = !about->isVisible();
        });
        Command("actionAbout")->trigger();
        EXPECT_TRUE(checked) << (useEscape ? "Escape" : "OK");
    }
}

TEST_F(DesktopTest, PreferencesStoresTheProfileNameExactlyAsTypedOnOkAndNothingOnCancel) {
    mail::Profiles profiles;
    profiles.Set({"Demo", "/srv/demo", {}, {}});
    profiles.Set({"office east", "/srv/east", {}, {}});
    std::string error;
    ASSERT_TRUE(profiles.Save(error)) << error;
    Start();
    struct Row {
        const char* typed;
        bool ok;
        const char* stored;
    } rows[] = {
        {"  Office East ", true, "  Office East "}, // no trimming, case kept
        {"demo", true, "demo"},                     // a suggestion's case is not imposed
        {"", true, ""},                             // empty: the default profile
        {"Changed", false, ""},                     // Cancel keeps what was stored
        {"Ünïcode ✓", true, "Ünïcode ✓"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed);
        const QString before = Stored("Preferences", "ProfileName");
        WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<DlgPreferences*>(modal);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), "Preferences");
            EXPECT_EQ(dialog->SuggestedNames(), QStringList({"Demo", "office east"}));
            auto* field = dialog->findChild<QComboBox*>("profileName");
            ASSERT_NE(field, nullptr);
            EXPECT_EQ(field->currentText(), before == "(absent)" ? QString() : before);
            field->lineEdit()->selectAll();
            QTest::keyClick(field->lineEdit(), Qt::Key_Delete);
            field->lineEdit()->insert(QString::fromUtf8(row.typed)); // as typed, any script
            auto* buttons = dialog->findChild<QDialogButtonBox*>("buttons");
            ASSERT_NE(buttons, nullptr);
            QTest::mouseClick(
                buttons->button(row.ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                Qt::LeftButton);
        });
        Command("actionConfigurePreferences")->trigger();
        EXPECT_EQ(Stored("Preferences", "ProfileName"),
                  row.ok ? QString::fromUtf8(row.stored) : before);
    }
}

TEST_F(DesktopTest, PreferencesHelpOpensTopic26) {
    DlgPreferences dialog;
    RecordedHelp help;
    auto* button = dialog.findChild<QPushButton*>("helpButton");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text().remove('&'), "Help");
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(help.topics, std::vector<int>{26});
    EXPECT_EQ(Stored("Preferences", "ProfileName"), "(absent)") << "Help writes nothing";
}

TEST_F(DesktopTest, TheHelpOfAModalDialogCanBeUsedWhileTheDialogIsOpen) {
    Start();
    CHelpWindow* help = m_app->HelpWindow();
    QString pageAfterClick;
    WhenModal([&](QWidget* modal) {
        auto* button = modal->findChild<QPushButton*>("helpButton");
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(help));
        EXPECT_EQ(help->CurrentPage(), "preferences.html");
        // The help belongs to the modal dialog, which therefore does not block it.
        EXPECT_EQ(help->windowHandle()->transientParent(), modal->windowHandle());
        auto* contents = help->findChild<QTreeWidget*>("helpContents");
        QTreeWidgetItem* first = contents->topLevelItem(0);
        const QRect row = contents->visualItemRect(first);
        QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, row.center());
        pageAfterClick = help->CurrentPage();
    });
    Command("actionConfigurePreferences")->trigger();
    EXPECT_EQ(pageAfterClick, "index.html");
}

TEST_F(DesktopTest, TheHelpMenuOpensTheProgramsHelpAndTheWebPagesInTheBrowser) {
    Start();
    CHelpWindow* help = m_app->HelpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(&Help(), static_cast<IHelp*>(help));
    EXPECT_FALSE(help->isVisible());

    // F1 does nothing.
    QTest::keyClick(&Window(), Qt::Key_F1);
    QTest::keyClick(Window().Display()->ListControl(), Qt::Key_F1);
    QTest::qWait(50);
    EXPECT_FALSE(help->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    const struct {
        const char* command;
        const char* page;
    } rows[] = {
        {"actionHelpContents", "index.html"}, {"actionHelpHowTo", "using-help.html"},
        {"actionHelpSales", "sales.html"},    {"actionHelpSupport", "support.html"},
        {"actionHelpSearch", "support.html"}, // the search keeps the page shown
    };
    for (const auto& row : rows) {
        Command(row.command)->trigger();
        EXPECT_TRUE(help->isVisible()) << row.command;
        EXPECT_EQ(help->CurrentPage(), row.page) << row.command;
    }
    auto* tabs = help->findChild<QTabWidget*>("helpTabs");
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->currentIndex(), 1) << "Search for Help On... opens the search";
    // The tool bar's Help button is Help, Contents.
    auto* helpButton = Window().findChild<QAbstractButton*>("helpButton");
    ASSERT_NE(helpButton, nullptr);
    QTest::mouseClick(helpButton, Qt::LeftButton);
    EXPECT_EQ(help->CurrentPage(), "index.html");

    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "Open");
    Command("actionHelpWebHome")->trigger();
    Command("actionHelpWebInfo")->trigger();
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(recorder.opened, QList<QUrl>({QUrl("https://www.quorvik.example/"),
                                            QUrl("https://www.quorvik.example/orvane/")}));
    for (const QUrl& url : recorder.opened)
        EXPECT_TRUE(url.host().endsWith(".example"));
}

TEST_F(DesktopTest, PrintSetupOpensThePageSetupDialog) {
    Start();
    bool pageSetup = false;
    WhenModal(
        [&](QWidget* modal) { pageSetup = qobject_cast<QPageSetupDialog*>(modal) != nullptr; });
    Command("actionPrintSetup")->trigger();
    EXPECT_TRUE(pageSetup);
}

TEST_F(DesktopTest, ConfigureUsersOpensTheUserListAndCancelLeavesNothingPending) {
    Start();
    QString caption;
    WhenModal([&](QWidget* modal) { caption = modal->windowTitle(); });
    Command("actionConfigureUsers")->trigger();
    EXPECT_EQ(caption, "User List");
    EXPECT_FALSE(Window().HasPendingList());
}

#include "desktop_test.moc"
