#pragma once

// The settings window's hotkey field: an edit that keeps to one combination the service can grab, its
// clear button, and the hint below that says how to choose, or why a choice was refused.

#include <QKeySequence>
#include <QObject>

class QHBoxLayout;
class QKeySequenceEdit;
class QLabel;
class QVariant;

namespace Hotkey {
enum class Problem;
}

class HotkeyField final : public QObject {
    Q_OBJECT

public:
    explicit HotkeyField(QObject *parent);

    static QKeySequence defaultHotkey();

    // The edit and its clear button, for the form's row; the hint, for the row below it.
    QHBoxLayout *row() const { return hotkeyRow; }
    QLabel *hint() const { return hotkeyHint; }
    QKeySequence keySequence() const;

    // Shows the sequence in the field (empty: no hotkey) with the neutral hint.
    void showHotkey(const QKeySequence &sequence);
    // Shows the stored setting; one the service would refuse as the one it uses instead, and why.
    void showStored(const QVariant &stored);

private:
    // Keeps the field to one combination the service can grab; refuses others with a hint.
    void takeHotkey(const QKeySequence &sequence);
    // Says in the hint why the text cannot be the hotkey.
    void showRefusal(const QString &text, Hotkey::Problem problem);

    QKeySequenceEdit *hotkeyEdit = nullptr;
    QHBoxLayout *hotkeyRow = nullptr;
    QLabel *hotkeyHint = nullptr;
    QKeySequence accepted; // what the field shows, to go back to when a combination is refused
};
