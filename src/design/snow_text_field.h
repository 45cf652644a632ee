// The one-line text input: an optional symbol, then the text, in the shared input box.
#pragma once

#include <QWidget>

#include <optional>

class AnimatedFlag;
class QLineEdit;

class SnowTextField final : public QWidget
{
    Q_OBJECT
public:
    explicit SnowTextField(QWidget *parent = nullptr);

    void setPlaceholder(const QString &placeholder);
    QString placeholder() const;
    // Fills the field without emitting textEdited.
    void setText(const QString &text);
    QString text() const;
    void setIcon(const QString &symbol);
    QString icon() const { return m_icon; }
    // The code font instead of Inter 13.
    void setMono(bool mono);
    bool isMono() const { return m_mono; }
    // A fixed box height; without one the box keeps its natural height.
    void setBoxHeight(std::optional<int> height);

    QLineEdit *lineEdit() const { return m_edit; }
    bool isFocused() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // Every change the user makes, as they type.
    void textEdited(const QString &text);
    // Return pressed in the field.
    void submitted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void relayout();

    QLineEdit *m_edit;
    AnimatedFlag *m_focus;
    QString m_icon;
    bool m_mono = false;
    std::optional<int> m_height;
};
