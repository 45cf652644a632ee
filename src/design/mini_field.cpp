// The small labelled integer field.
#include "design/mini_field.h"

#include "design/fonts.h"
#include "design/integer_text.h"
#include "design/palette.h"
#include "design/snow_input.h"
#include "design/snow_text.h"

#include <QGraphicsOpacityEffect>
#include <QLineEdit>
#include <QVBoxLayout>

#include <limits>

MiniField::MiniField(const QString &label, int value, std::optional<int> width, QWidget *parent)
    : QWidget(parent), m_edit(new QLineEdit), m_value(value)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    m_label = new SnowText(label, Fonts::inter(11, QFont::Medium), [](const Palette &p) { return p.mutedForeground; },
                           this);
    column->addWidget(m_label);
    m_edit->setFont(Fonts::ksCode());
    m_edit->setText(format(value));
    m_box = new SnowInput(m_edit, BoxHeight, 8, this);
    column->addWidget(m_box);
    if (width) {
        setFixedWidth(*width);
        m_edit->setMinimumWidth(0);
    }
    setSizePolicy(width ? QSizePolicy::Fixed : QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusProxy(m_edit);
    // editingFinished also follows Return and focus loss, but stays silent for text that a validator
    // rejects; there is none here, so it is exactly the commit moments.
    connect(m_edit, &QLineEdit::editingFinished, this, &MiniField::commit);
}

QString MiniField::label() const
{
    return m_label->text();
}

void MiniField::setValue(int value)
{
    const bool pending = hasPendingEdit();
    m_value = value;
    if (!pending)
        m_edit->setText(format(value));
}

void MiniField::setDisabled(bool disabled)
{
    if (disabled == !isEnabled())
        return;
    setEnabled(!disabled);
    // The box and its text keep their colours when disabled, so the whole field is dimmed instead.
    if (disabled) {
        auto *dim = new QGraphicsOpacityEffect(this);
        dim->setOpacity(0.5);
        setGraphicsEffect(dim);
    } else {
        setGraphicsEffect(nullptr);
    }
}

bool MiniField::hasPendingEdit() const
{
    return m_edit->text() != format(m_value);
}

void MiniField::commitPending()
{
    if (hasPendingEdit())
        commit();
}

void MiniField::commit()
{
    const std::optional<int> typed = parse(m_edit->text());
    if (typed) {
        m_value = *typed;
        // Shown in the field's own format, so "0700" reads "700" once committed.
        m_edit->setText(format(m_value));
        emit valueCommitted(m_value);
        return;
    }
    m_edit->setText(format(m_value));
}

std::optional<int> MiniField::parse(const QString &text)
{
    const std::optional<long long> value = IntegerText::parse(text);
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(*value);
}

QString MiniField::format(int value)
{
    return IntegerText::format(value);
}
