// The labelled form field.
#include "design/snow_field.h"

#include "design/fonts.h"
#include "design/palette.h"
#include "design/snow_text.h"

#include <QVBoxLayout>

SnowField::SnowField(QWidget *content, QWidget *parent) : QWidget(parent), m_content(content)
{
    m_label = new SnowText(QString(), Fonts::inter(12, QFont::Medium),
                           [](const Palette &p) { return p.mutedForeground; });
    m_footer = new SnowText(QString(), Fonts::inter(11), [](const Palette &p) { return p.mutedForeground; });
    m_footer->setWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_label);
    layout->addWidget(content);
    layout->addWidget(m_footer);
    refresh();
}

void SnowField::setLabel(std::optional<QString> label)
{
    m_labelValue = std::move(label);
    refresh();
}

void SnowField::setHint(std::optional<QString> hint)
{
    m_hint = std::move(hint);
    refresh();
}

void SnowField::setError(std::optional<QString> error)
{
    m_error = std::move(error);
    refresh();
}

std::optional<QString> SnowField::footerText() const
{
    return m_error ? m_error : m_hint;
}

void SnowField::refresh()
{
    m_label->setText(m_labelValue.value_or(QString()));
    m_label->setVisible(m_labelValue.has_value());
    const std::optional<QString> footer = footerText();
    m_footer->setText(footer.value_or(QString()));
    m_footer->setVisible(footer.has_value());
    if (m_error) {
        m_footer->setFont(Fonts::inter(11, QFont::Medium));
        m_footer->setColorRole([](const Palette &p) { return p.errorRed(); });
    } else {
        m_footer->setFont(Fonts::inter(11));
        m_footer->setColorRole([](const Palette &p) { return p.mutedForeground; });
    }
}
