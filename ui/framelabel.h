#pragma once

#include <QLabel>
#include <QString>

// A one-line label of the dialogs for texts of any length. A text wider than the label is
// shown elided at the end with "…" and becomes the label's tool tip. The text can be selected
// with the mouse and copied (Ctrl+C or the context menu); a copied selection that reaches the
// "…" includes the hidden rest, and "复制" with nothing selected copies the whole text, so it
// can go into a support request.
// Texts are shown as plain text: messages and version texts come from the network.
class FrameLabel : public QLabel
{
public:
    explicit FrameLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }
    bool isElided() const { return text() != m_fullText; }
    // What a copy puts on the clipboard for the current selection.
    QString selectionForCopy() const;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void showFittingText();
    void copySelection();

    QString m_fullText;
};
