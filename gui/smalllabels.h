#pragma once

// The settings window's small labels: the grey hints beside and below its fields, and the room a label
// keeps so that a change of its text moves no row of the form.

#include <QStringList> // an alias in Qt 6, which cannot be declared ahead

class QLabel;
class QString;

namespace SmallLabels {

QString hintStyle(const char *colour);
QLabel *hintLabel(const QString &text);

// The hint's room: two lines, and at least the width at which the longest of these texts fits in
// them. A refusal then moves no row of the form and is not cut off, however small the window.
void reserveRoom(QLabel *hint, const QStringList &texts);

// Room for two lines of whichever of these texts needs most, at the narrowest width where each fits
// in two lines of its own: Chinese lines are taller than Latin ones (the fallback font), so the room
// is the same whatever the language, and no row below moves when it changes.
void reserveTwoLines(QLabel *label, const QStringList &texts);

} // namespace SmallLabels
