// The inspector's response body: the coloured or editable body, copy, variables and data generation.
#pragma once

#include <QTextEdit>
#include <QWidget>

class CopyButton;
class EngineClient;
class InspectorModel;
class JSONSyntaxHighlighter;
class KSButton;
class QPlainTextEdit;
class ShellText;
class SnowDropdown;
class SnowStepper;
class SnowTextField;
class SymbolLabel;

// The body as coloured, selectable JSON, as tall as its text (no inner scrolling).
class JsonBodyView final : public QTextEdit
{
    Q_OBJECT
public:
    explicit JsonBodyView(QWidget *parent = nullptr);
    void setBody(const QString &body);
    QString selectedText() const;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitHeight();

    JSONSyntaxHighlighter *m_highlighter;
};

class ResponseSection final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int EditorMinHeight = 140;

    ResponseSection(InspectorModel *model, EngineClient *engine, QWidget *parent = nullptr);

    KSButton *editButton() const { return m_editToggle; }
    CopyButton *copyButton() const { return m_copy; }
    SnowDropdown *variableMenu() const { return m_variables; }
    KSButton *generateButton() const { return m_generate; }
    SnowStepper *arraysStepper() const { return m_stepper; }
    SnowTextField *promptField() const { return m_prompt; }
    KSButton *aiButton() const { return m_ai; }
    QWidget *resultLine() const { return m_resultLine; }
    ShellText *resultText() const { return m_resultText; }
    ShellText *modeText() const { return m_modeText; }
    QPlainTextEdit *editor() const { return m_editor; }
    ShellText *emptyText() const { return m_empty; }
    JsonBodyView *bodyView() const { return m_view; }
    ShellText *variablesNote() const { return m_variablesNote; }

private:
    void showBody();
    void showTools();
    void showContent();
    void showVariables();

    InspectorModel *m_model;
    EngineClient *m_engine;
    KSButton *m_editToggle;
    CopyButton *m_copy;
    SnowDropdown *m_variables;
    KSButton *m_generate;
    SnowStepper *m_stepper;
    SnowTextField *m_prompt;
    KSButton *m_ai;
    QWidget *m_resultLine;
    SymbolLabel *m_resultMark;
    ShellText *m_resultText;
    ShellText *m_modeText;
    QPlainTextEdit *m_editor;
    ShellText *m_empty;
    JsonBodyView *m_view;
    ShellText *m_variablesNote;
    bool m_filling = false;
};
