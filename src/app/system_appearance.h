// Whether the desktop is in light or dark mode, read from the application palette and kept current.
#pragma once

#include <QObject>

class QPalette;

enum class ColorScheme { light, dark };

class SystemAppearance final : public QObject
{
    Q_OBJECT
public:
    explicit SystemAppearance(QObject *parent = nullptr);
    ~SystemAppearance() override;

    ColorScheme colorScheme() const { return m_colorScheme; }

    // Light without an application object; otherwise dark when the window colour is dark.
    static ColorScheme current();
    static ColorScheme fromPalette(const QPalette &palette);

signals:
    // Sent on every appearance change notice, also when the scheme stayed the same.
    void colorSchemeChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();

    ColorScheme m_colorScheme;
};
