// Sheets of the main window: a window-modal dialog per set AppState flag; closing it clears the flag.
#pragma once

#include "app/app_state.h"
#include "design/palette.h"

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>

class SheetDialog final : public QDialog
{
    Q_OBJECT
public:
    SheetDialog(SheetFlag flag, QWidget *parent);
    SheetFlag flag() const { return m_flag; }
    QWidget *content() const { return m_content; }
    void setContent(QWidget *content);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    SheetFlag m_flag;
    QWidget *m_content = nullptr;
};

namespace Sheets {
// Closes the sheet that holds the widget (the dismiss action of the view environment).
void dismiss(QWidget *inside);
} // namespace Sheets

class SheetPresenter final : public QObject
{
    Q_OBJECT
public:
    // Builds the content for a flag, or returns null when that sheet does not exist yet.
    using Builder = std::function<QWidget *(SheetFlag flag, QWidget *parent)>;

    SheetPresenter(AppState *state, QWidget *window, Builder builder);

    // The dialog open for a flag, if any.
    SheetDialog *dialog(SheetFlag flag) const;
    // Re-colours the open sheets (the window's palette changed).
    void applyPalette(const Palette &palette);

private:
    void flagChanged(SheetFlag flag, bool shown);
    void present(SheetFlag flag);
    void returnFocus(QWidget *focused);

    AppState *m_state;
    QWidget *m_window;
    Builder m_builder;
    std::map<SheetFlag, QPointer<SheetDialog>> m_open;
};
