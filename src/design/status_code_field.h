// The small HTTP status entry: an integer in the code font, clamped to 100…599 when committed.
#pragma once

#include "design/line_edit_box.h"

// Typing that parses as a whole integer updates value() at once (valueEdited); the clamp runs only
// when the entry is committed: Return, losing focus, or commitPending() from a button that takes no
// focus. Every commit writes the clamped value back and emits committed(), also when unchanged.
// Return is consumed by the field, so it never also fires a surrounding default action.
class StatusCodeField final : public LineEditBox
{
    Q_OBJECT
public:
    static constexpr int Width = 72;
    static constexpr int Height = 36;
    static constexpr int Lowest = 100;
    static constexpr int Highest = 599;

    explicit StatusCodeField(QWidget *parent = nullptr);

    // The last value the owner set or the user typed; may lie outside 100…599 until committed.
    int value() const { return m_value; }
    // Shows a value from the owner, unclamped, without emitting anything.
    void setValue(int value);

    // Commits the text typed so far, clamps, shows and returns the result.
    int commitPending();

    static int clamp(int status);
    // The value a text stands for: a whole integer in the user's locale without digit grouping, or none.
    static std::optional<long long> parse(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    // Typed text parsed to a new value (not yet clamped).
    void valueEdited(int value);
    // A commit ran: the clamped value.
    void committed(int value);

protected:
    void relayout() override;
    void paintDecorations(QPainter &, const Palette &) const override {}
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void typed(const QString &text);

    int m_value = 200;
};
