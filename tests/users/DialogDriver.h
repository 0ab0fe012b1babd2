// Drives modal dialogs from inside their own event loops, as a person at the keyboard would.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

// QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace testing_support {

// Runs `act` on the first visible dialog of type `Dialog` once it is shown, from a timer of the
// event loop that shows it. `act` must end the dialog; one that it leaves open is rejected,
// and the test fails, so that a failed check never leaves a test waiting forever.
template <class Dialog> class WhenShown {
public:
    explicit WhenShown(std::function<void(Dialog*)> act) : m_act(std::move(act)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }
    WhenShown(const WhenShown&) = delete;
    WhenShown& operator=(const WhenShown&) = delete;

    bool Fired() const { return m_fired; }

private:
    void Poll() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<Dialog*>(window);
            if (!dialog || !dialog->isVisible())
                continue;
            m_timer.stop();
            m_fired = true;
            m_act(dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << dialog->objectName().toStdString() << " was left open";
                dialog->reject();
            }
            return;
        }
    }

    std::function<void(Dialog*)> m_act;
    QTimer m_timer;
    bool m_fired = false;
};

template <class T> T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Makes `window` the active window, as a click on it would; keyboard shortcuts need one. Asks
// again until the window system has done it, should an earlier request arrive later.
inline bool Activate(QWidget* window) {
    return QTest::qWaitFor([window] {
        if (QApplication::activeWindow() == window)
            return true;
        window->activateWindow();
        return false;
    });
}

// The order in which Tab moves the focus from `start` through `window`'s controls: the names of
// the next `steps` controls.
inline QStringList TabOrder(QWidget* window, QWidget* start, int steps) {
    start->setFocus();
    QStringList names;
    for (int i = 0; i < steps; ++i) {
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        names.append(window->focusWidget()->objectName());
    }
    return names;
}

inline void Click(QWidget* dialog, const char* button) {
    if (auto* b = Child<QAbstractButton>(dialog, button))
        QTest::mouseClick(b, Qt::LeftButton);
}

inline bool Enabled(QWidget* dialog, const char* button) {
    auto* b = Child<QAbstractButton>(dialog, button);
    return b && b->isEnabled();
}

// Types into an editable combo box's text, key by key.
inline void Type(QComboBox* combo, const QString& text) {
    QTest::keyClicks(combo->lineEdit(), text);
}

// Picks an item from a combo box's list, as a click in the dropped-down list does.
inline void Choose(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text, Qt::MatchExactly);
    ASSERT_GE(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
}

inline QStringList Items(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

inline QStringList Items(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts.append(combo->itemText(i));
    return texts;
}

// Selects exactly the items with these texts, as Ctrl+clicks do.
inline void Select(QListWidget* list, const QStringList& texts) {
    list->clearSelection();
    for (const QString& text : texts) {
        const auto found = list->findItems(text, Qt::MatchExactly);
        ASSERT_FALSE(found.isEmpty()) << text.toStdString();
        found.front()->setSelected(true);
    }
}

} // namespace testing_support
