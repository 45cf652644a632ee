// The small labelled integer field: a caption above a one-line box that writes its value when committed.
#pragma once

#include <QWidget>

#include <optional>

class QLineEdit;
class SnowInput;
class SnowText;

// The value changes only when the entry is committed (Return or focus leaving the field) and the text reads
// as a whole integer; any integer is taken as typed, nothing is clamped. Text that does not read shows the
// value again.
class MiniField final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int BoxHeight = 28;

    explicit MiniField(const QString &label, int value = 0, std::optional<int> width = std::nullopt,
                       QWidget *parent = nullptr);

    QString label() const;
    int value() const { return m_value; }
    // Shows a value without emitting valueCommitted; text being typed stays until it is committed.
    void setValue(int value);
    void setDisabled(bool disabled);

    QLineEdit *lineEdit() const { return m_edit; }
    SnowInput *box() const { return m_box; }
    // Typed text that differs from the value's own text and has not been committed yet.
    bool hasPendingEdit() const;
    // Commits typed text now, as Return would; used before the owner goes away or changes target.
    void commitPending();

    // The integer a text reads as in the current locale without digit grouping; none when it does not.
    static std::optional<int> parse(const QString &text);
    static QString format(int value);

signals:
    // The user committed an entry that reads as an integer (also when it equals the value).
    void valueCommitted(int value);

private:
    void commit();

    SnowText *m_label;
    QLineEdit *m_edit;
    SnowInput *m_box;
    int m_value;
};
