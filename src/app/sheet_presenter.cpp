// Window-modal sheet dialogs bound to AppState flags.
#include "app/sheet_presenter.h"

#include "design/card_surface.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

SheetDialog::SheetDialog(SheetFlag flag, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
    , m_flag(flag)
{
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
}

void SheetDialog::setContent(QWidget *content)
{
    m_content = content;
    layout()->addWidget(content);
}

void SheetDialog::paintEvent(QPaintEvent *)
{
    const Palette palette = Palette::of(this);
    QPainter painter(this);
    painter.fillRect(rect(), palette.content);
    painter.setPen(palette.borderStrong);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

namespace Sheets {

void dismiss(QWidget *inside)
{
    for (QWidget *w = inside; w; w = w->parentWidget()) {
        if (auto *dialog = qobject_cast<SheetDialog *>(w)) {
            dialog->reject();
            return;
        }
    }
}

} // namespace Sheets

SheetPresenter::SheetPresenter(AppState *state, QWidget *window, Builder builder)
    : QObject(window)
    , m_state(state)
    , m_window(window)
    , m_builder(std::move(builder))
{
    connect(state, &AppState::sheetFlagChanged, this, &SheetPresenter::flagChanged);
}

SheetDialog *SheetPresenter::dialog(SheetFlag flag) const
{
    const auto found = m_open.find(flag);
    return found == m_open.end() ? nullptr : found->second.data();
}

void SheetPresenter::applyPalette(const Palette &palette)
{
    for (auto &[flag, dialog] : m_open) {
        if (dialog)
            PaletteHost::set(dialog, palette);
    }
}

void SheetPresenter::flagChanged(SheetFlag flag, bool shown)
{
    SheetDialog *open = dialog(flag);
    if (shown) {
        if (!open)
            present(flag);
        return;
    }
    if (open)
        open->reject();
}

void SheetPresenter::returnFocus(QWidget *focused)
{
    // Without a window manager nothing activates the window a closed dialog leaves behind, and its
    // shortcuts (Ctrl+K) and keys would do nothing until a click: another open sheet, else the window
    // takes the keys again, at the widget that had them when the sheet opened when it is still there.
    QWidget *target = m_window ? m_window->window() : nullptr;
    for (const auto &[flag, open] : m_open) {
        if (open && open->isVisible())
            target = open;
    }
    if (!target || !target->isVisible())
        return;
    target->activateWindow();
    if (focused && focused->isVisible() && focused->window() == target)
        focused->setFocus(Qt::ActiveWindowFocusReason);
    else if (!target->focusWidget())
        target->setFocus(Qt::ActiveWindowFocusReason);
}

void SheetPresenter::present(SheetFlag flag)
{
    auto *sheet = new SheetDialog(flag, m_window);
    PaletteHost::set(sheet, Palette::of(m_window));
    QWidget *content = m_builder ? m_builder(flag, sheet) : nullptr;
    if (!content) {
        // Nothing to show: the sheet closes at once, so the flag does not claim an open sheet.
        delete sheet;
        QTimer::singleShot(0, m_state, [state = QPointer<AppState>(m_state), flag] {
            if (state && state->sheetFlag(flag))
                state->setSheetFlag(flag, false);
        });
        return;
    }
    sheet->setContent(content);
    m_open[flag] = sheet;
    // Where the keys go back to when the sheet closes.
    QPointer<QWidget> focused = QApplication::focusWidget();
    connect(sheet, &QDialog::finished, this, [this, flag, sheet, focused] {
        if (m_open[flag] == sheet)
            m_open.erase(flag);
        if (m_state->sheetFlag(flag))
            m_state->setSheetFlag(flag, false);
        // Once the dialog is gone: the window system moves the focus as the dialog goes, after this.
        QTimer::singleShot(0, this, [this, focused] { returnFocus(focused); });
    });
    sheet->adjustSize();
    if (m_window) {
        // The sheet is a window of its own, so it is placed in screen coordinates: centred over the
        // window's content wherever the window is, never above its top edge.
        const QRect area(m_window->mapToGlobal(QPoint(0, 0)), m_window->size());
        const int top = std::max(area.top(), area.center().y() - sheet->height() / 2);
        sheet->move(area.center().x() - sheet->width() / 2, top);
    }
    sheet->open();
}
