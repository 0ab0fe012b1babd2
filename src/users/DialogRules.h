// The rules of the user dialogs that need no window: how their lists order and find items, how
// stored texts are shown, and how an interval text becomes minutes.
#pragma once

#include "core/CString.h"

#include <QString>
#include <QStringList>
#include <cstdint>

// A stored text for display: UTF-8 when it is valid UTF-8, otherwise the 8-bit code page
// (Latin-1). Stored bytes are never rebuilt from what is shown: the dialogs keep the original
// bytes beside each item and write those back.
QString ToDisplayText(const CString& bytes);
// Text typed by the user, as stored (UTF-8).
CString FromTypedText(const QString& text);

// The order of the dialogs' sorted lists: alphabetical without regard to case. Items equal but
// for case keep the order in which they were added.
bool LessIgnoringCase(const QString& a, const QString& b);

// The select-string rule: the index of the first of `items` (in their order) whose text begins
// with `text`, ignoring case; -1 when none does. An empty text selects nothing, so that a new
// user never starts with someone's pager chosen for it.
int SelectStringIndex(const QStringList& items, const QString& text);

// The scan interval that an interval text stands for: the decimal number at its start (an
// empty or unreadable text counts as 0), raised to the least interval (15 minutes).
enum class IntervalText {
    Accepted, // *minutes holds the interval
    TooLarge, // above the largest interval the user file holds (32767 minutes)
};
IntervalText ScanIntervalFromText(const CString& text, int16_t* minutes);
