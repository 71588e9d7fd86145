// The hints' style, and the narrowest width at which a label's texts fit their lines.

#include "smalllabels.h"

#include <QFontMetrics>
#include <QLabel>
#include <QStringList>

#include <functional>

namespace SmallLabels {

namespace {

// The narrowest width, up to the text's one-line width, at which fits(width) holds.
int narrowestWidth(const QFontMetrics &metrics, const QString &text, const std::function<bool(int)> &fits)
{
    int narrow = 1;
    int wide = metrics.horizontalAdvance(text) + 1;
    while (narrow < wide) {
        const int middle = (narrow + wide) / 2;
        if (fits(middle))
            wide = middle;
        else
            narrow = middle + 1;
    }
    return wide;
}

} // namespace

QString hintStyle(const char *colour)
{
    return QStringLiteral("QLabel { color: %1; font-size: 11px; }").arg(QLatin1String(colour));
}

QLabel *hintLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setStyleSheet(hintStyle("gray"));
    return label;
}

void reserveRoom(QLabel *hint, const QStringList &texts)
{
    hint->ensurePolished();
    const QFontMetrics metrics(hint->font());
    const int height = metrics.boundingRect(QRect(), 0, QStringLiteral("|\n|")).height();
    int width = 0;
    for (const QString &text : texts) {
        width = qMax(width, narrowestWidth(metrics, text, [&](int wide) {
            const QRect needed = metrics.boundingRect(QRect(0, 0, wide, 4 * height), Qt::TextWordWrap, text);
            return needed.height() <= height && needed.width() <= wide;
        }));
    }
    hint->setMinimumWidth(width);
    hint->setFixedHeight(height);
}

void reserveTwoLines(QLabel *label, const QStringList &texts)
{
    label->ensurePolished();
    const QFontMetrics metrics(label->font());
    const auto heightAt = [&](const QString &text, int width) {
        return metrics.boundingRect(QRect(0, 0, width, 100 * metrics.height()), Qt::TextWordWrap, text).height();
    };
    int width = 0;
    for (const QString &text : texts) {
        const int twoLines = 2 * metrics.boundingRect(QRect(), 0, text).height();
        width = qMax(width, narrowestWidth(metrics, text, [&](int wide) { return heightAt(text, wide) <= twoLines; }));
    }
    int height = 0;
    for (const QString &text : texts)
        height = qMax(height, heightAt(text, width));
    label->setMinimumWidth(width);
    label->setFixedHeight(height);
}

} // namespace SmallLabels
