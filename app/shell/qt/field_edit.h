// The edit fields of the Qt dialog: multi-line, wrapping, with a vertical
// scroll bar, holding one byte per character (Latin-1).
#ifndef TORVANE_APP_SHELL_QT_FIELD_EDIT_H
#define TORVANE_APP_SHELL_QT_FIELD_EDIT_H

#include <QPlainTextEdit>

#include <functional>
#include <string>

// Field text and the bytes the dialog logic reads and writes. Each byte is
// the character of the same code; a carriage return is held as a line
// separator and a line feed as a paragraph break, so both come back as they
// went in.
QString field_text_from_bytes(const char* bytes);
std::string bytes_from_field_text(const QString& raw_text);

// What the user may put into a field of the given text: characters without
// a Latin-1 code are dropped, and a CR LF pair or a lone CR becomes one line
// feed.
QString typed_text_filter(const QString& typed);

class field_edit : public QPlainTextEdit {
public:
    explicit field_edit(QWidget* parent);

    // Typing and pasting stop at `count` characters; program writes are
    // never cut. No limit until this is called.
    void set_limit(int count) { limit_ = count; }
    int limit() const { return limit_; }

    // Replaces the text as the program. The user-edit notification follows
    // as for any change; the dialog logic ignores those of its own writes.
    void write_bytes(const char* bytes);
    std::string read_bytes() const;
    int length() const;

    // Called after every change the user makes to the text.
    std::function<void()> on_user_edit;
    // Called after typing or pasting that the limit cut or refused, once
    // the change it made (if any) has been reported.
    std::function<void()> on_user_cut;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // The filtered part of `typed` that still fits under the limit when it
    // replaces the current selection; `cut` tells whether the limit took
    // any of it.
    QString fitting_text(const QString& typed, bool& cut) const;
    void insert_user_text(const QString& text);
    void report_cut();

    int limit_ = -1;
};

#endif
