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

// Whether `typed` holds a character a field cannot hold (no Latin-1 code,
// or the zero character); `code` receives the first one's code point.
bool find_unholdable(const QString& typed, char32_t& code);

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

    // Called after every change the user makes to the text; `pasted` tells
    // that the change brought in several characters at once.
    std::function<void(bool pasted)> on_user_edit;
    // Called after typing or pasting that the limit refused; the field is
    // as it was.
    std::function<void()> on_user_cut;
    // Called after typing or pasting refused for a character the field
    // cannot hold (its code point); the field is as it was.
    std::function<void(char32_t code)> on_unholdable;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    // Whether `typed` may replace the current selection: it holds only
    // characters a field can hold and fits under the limit. Otherwise the
    // refusal is reported and the field left as it is.
    bool accepts(const QString& typed);
    void insert_user_text(const QString& text);

    int limit_ = -1;
    bool pasting_ = false;  // an edit of several characters is under way
};

#endif
