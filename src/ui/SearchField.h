#pragma once
// The drop-down's search field. Editing keys reach its delegate as editing
// commands ("insertNewline:", "cancelOperation:", "moveLeft:", ...) before
// the field's own handling of them.
#include <QLineEdit>

class SearchFieldDelegate {
public:
    virtual ~SearchFieldDelegate() = default;
    // Returns whether the command was handled; the field's own handling follows when not.
    virtual bool controlTextViewDoCommandBySelector(QLineEdit *control, const QString &command) = 0;
};

class SearchField : public QLineEdit {
    Q_OBJECT
public:
    explicit SearchField(QWidget *parent = nullptr);
    void setEditingDelegate(SearchFieldDelegate *d) { m_delegate = d; }
    // The editing command a key stands for, or an empty string for text input.
    static QString commandForKey(const QKeyEvent *event);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    SearchFieldDelegate *m_delegate = nullptr;
};
