// A form field: a caption above any control and a hint or error line below it.
#pragma once

#include <QWidget>

#include <optional>

class SnowText;
class QVBoxLayout;

class SnowField final : public QWidget
{
    Q_OBJECT
public:
    explicit SnowField(QWidget *content, QWidget *parent = nullptr);

    void setLabel(std::optional<QString> label);
    void setHint(std::optional<QString> hint);
    // An error replaces the hint while it is present.
    void setError(std::optional<QString> error);

    QWidget *content() const { return m_content; }
    // What is shown below the content: the error, else the hint, else nothing.
    std::optional<QString> footerText() const;
    bool showsError() const { return m_error.has_value(); }
    SnowText *labelText() const { return m_label; }
    SnowText *footer() const { return m_footer; }

private:
    void refresh();

    QWidget *m_content;
    SnowText *m_label;
    SnowText *m_footer;
    std::optional<QString> m_labelValue;
    std::optional<QString> m_hint;
    std::optional<QString> m_error;
};
