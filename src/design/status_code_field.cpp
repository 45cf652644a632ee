// The small HTTP status entry.
#include "design/status_code_field.h"

#include "design/fonts.h"
#include "design/integer_text.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

constexpr int Pad = 10;

QString shown(int value)
{
    return IntegerText::format(value);
}

} // namespace

StatusCodeField::StatusCodeField(QWidget *parent) : LineEditBox(parent)
{
    lineEdit()->setFont(Fonts::ksCode());
    lineEdit()->setText(shown(m_value));
    connect(this, &LineEditBox::textEdited, this, &StatusCodeField::typed);
    // Leaving the field and Return commit.
    lineEdit()->installEventFilter(this);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(Width, Height);
    relayout();
}

void StatusCodeField::setValue(int value)
{
    m_value = value;
    setText(shown(value));
}

std::optional<long long> StatusCodeField::parse(const QString &text)
{
    return IntegerText::parse(text);
}

int StatusCodeField::clamp(int status)
{
    return qBound(Lowest, status, Highest);
}

void StatusCodeField::typed(const QString &text)
{
    const auto parsed = parse(text);
    if (!parsed)
        return;
    // A number too large for an int is still a number: it clamps to the nearest end on commit.
    const int v = int(std::clamp<long long>(*parsed, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    if (v == m_value)
        return;
    m_value = v;
    emit valueEdited(v);
}

int StatusCodeField::commitPending()
{
    typed(text());
    m_value = clamp(m_value);
    lineEdit()->setText(shown(m_value)); // also puts back the value after text that did not parse
    emit committed(m_value);
    return m_value;
}

bool StatusCodeField::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lineEdit() && event->type() == QEvent::FocusOut)
        commitPending();
    // Return commits and goes no further: it must not also reach a sheet's default action.
    if (watched == lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            commitPending();
            return true;
        }
    }
    return LineEditBox::eventFilter(watched, event);
}

void StatusCodeField::relayout()
{
    const int editHeight = qMin(height(), lineEdit()->sizeHint().height());
    lineEdit()->setGeometry(Pad, (height() - editHeight) / 2, qMax(0, width() - 2 * Pad), editHeight);
    update();
}

QSize StatusCodeField::sizeHint() const
{
    return {Width, Height};
}
