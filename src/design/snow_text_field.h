// The one-line text input: an optional symbol, then the text, in the shared input box.
#pragma once

#include "design/line_edit_box.h"

#include <optional>

class SnowTextField final : public LineEditBox
{
    Q_OBJECT
public:
    explicit SnowTextField(QWidget *parent = nullptr);

    void setIcon(const QString &symbol);
    QString icon() const { return m_icon; }
    // The code font instead of Inter 13.
    void setMono(bool mono);
    bool isMono() const { return m_mono; }
    // A fixed box height; without one the box keeps its natural height.
    void setBoxHeight(std::optional<int> height);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // Return pressed in the field.
    void submitted();

protected:
    void relayout() override;
    void paintDecorations(QPainter &painter, const Palette &palette) const override;

private:
    QString m_icon;
    bool m_mono = false;
    std::optional<int> m_height;
};
