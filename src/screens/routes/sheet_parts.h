// The pieces every sheet of this library is built from: its surface, title row and button row.
#pragma once

#include <QWidget>

#include <functional>

class QBoxLayout;
class QHBoxLayout;
class QVBoxLayout;
class KSButton;
class PrimaryButton;
class SnowText;
struct Palette;

// A sheet's own widget: fills itself with a palette colour (background or content).
class SheetSurface : public QWidget
{
    Q_OBJECT
public:
    using ColorRole = std::function<QColor(const Palette &)>;

protected:
    SheetSurface(ColorRole fill, QWidget *parent);
    void paintEvent(QPaintEvent *event) override;

private:
    ColorRole m_fill;
};

namespace SheetParts {

// The title in Inter 16 semibold.
SnowText *title(const QString &text, QWidget *sheet);
// Title, flexible space and the round "xmark" button that closes the sheet.
QHBoxLayout *titleRow(const QString &text, QWidget *sheet);
// Flexible space, a text-variant "Cancel" (md) running `cancel`, then `primary`; spacing 12.
QHBoxLayout *buttonRow(QWidget *sheet, std::function<void()> cancel, PrimaryButton *primary);
// The layout of a sheet whose content runs to its edges: the title row (16 in at the sides, `padV`
// above and below) over a full-width rule.
QVBoxLayout *edgeColumn(const QString &title, int padV, QWidget *sheet);
// A primary md button whose action runs while the sheet lives.
PrimaryButton *primaryButton(const QString &title, const QString &icon, QWidget *sheet, std::function<void()> action);
// Closes the sheet (what "Cancel" and "xmark" do).
std::function<void()> dismissAction(QWidget *sheet);

} // namespace SheetParts
