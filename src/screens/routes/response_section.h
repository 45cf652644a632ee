// The inspector's response body: the coloured or editable body, copy, variables and data generation.
#pragma once

#include <QWidget>

class CodeTextView;
class CopyButton;
class EngineClient;
class ExactPlainTextEdit;
class InspectorModel;
class JsonBodyView;
class KSButton;
class ShellText;
class SnowDropdown;
class SnowStepper;
class SnowTextField;
class SymbolLabel;

class ResponseSection final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int EditorMinHeight = 140;
    static constexpr int EditorMaxHeight = 1200;
    // Bodies longer than this many UTF-16 units are painted line by line and their editor is filled on a worker:
    // laid out as rich text they would hold up the window for seconds.
    static constexpr qsizetype LongBodyLimit = 32 * 1024;
    // A body with a line longer than this is shown and edited line by line whatever its size: a text editor
    // lays a line out whole, which for minified JSON of a few hundred KB takes seconds, and again at each key.
    static constexpr qsizetype LongLineLimit = 4096;

    // Whether a text is better edited line by line: long, or with a very long line.
    static bool needsLineEditor(const QString &text);

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
    // None until "Edit" is first pressed: filling an editor with a long body is costly.
    ExactPlainTextEdit *editor() const { return m_editor; }
    // The editor of a body with a long line, in place of the text editor (none until one is edited).
    CodeTextView *lineEditor() const { return m_lineEditor; }
    bool editsByLine() const { return m_lineEditing; }
    ShellText *emptyText() const { return m_empty; }
    // The read-only body: the rich-text view for a short one, the line-painting view for a long one (none
    // until a long body was shown).
    JsonBodyView *bodyView() const { return m_view; }
    CodeTextView *longBodyView() const { return m_longView; }
    bool showsLongBody() const { return m_long; }
    // The body is on show as it should be: the editor while editing, else the empty note or the coloured view
    // with its colours in place.
    bool bodyShown() const;
    ShellText *variablesNote() const { return m_variablesNote; }

private:
    ExactPlainTextEdit *ensureEditor();
    CodeTextView *ensureLineEditor();
    void fillEditor(const QString &body);
    // A paste too long for the text editor, made in the line editor, which takes over.
    void pasteByLine(qsizetype from, qsizetype to, const QString &text);
    QString editorBody() const;
    void showBody();
    void showReadOnly(const QString &body);
    // The line-painting view of a long body, made when first needed.
    CodeTextView *showLongView();
    void takeLongBody();
    void showReadOnlyViews(bool shown);
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
    QWidget *m_contentBox;
    ExactPlainTextEdit *m_editor = nullptr;
    CodeTextView *m_lineEditor = nullptr;
    // The body is in the line editor rather than the text editor; chosen each time the editor is filled.
    bool m_lineEditing = false;
    ShellText *m_empty;
    JsonBodyView *m_view;
    CodeTextView *m_longView = nullptr;
    bool m_long = false;
    ShellText *m_variablesNote;
    // A long body waits a turn of the event loop before it is put in its view.
    bool m_bodyPending = false;
    // The editor's text is behind the body (it changed while the editor was closed).
    bool m_editorStale = false;
    // A long body's document is being built for the editor; the count tells an outdated one from the newest.
    bool m_editorLoading = false;
    int m_editorLoad = 0;
};
