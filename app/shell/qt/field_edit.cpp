#include "field_edit.h"

#include "../field_caret.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextDocument>

#include <algorithm>

namespace {

constexpr char16_t carriage_return_holder = 0x2028;  // QChar::LineSeparator
constexpr char16_t line_feed_holder = 0x2029;        // QChar::ParagraphSeparator

}  // namespace

QString field_text_from_bytes(const char* bytes)
{
    QString text;
    for (const char* p = bytes; *p != '\0'; ++p) {
        const auto code = static_cast<unsigned char>(*p);
        text += code == '\r' ? QChar(carriage_return_holder) : QChar(code);
    }
    return text;
}

std::string bytes_from_field_text(const QString& raw_text)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(raw_text.size()));
    for (const QChar c : raw_text) {
        const char16_t code = c.unicode();
        if (code == line_feed_holder)
            bytes += '\n';
        else if (code == carriage_return_holder)
            bytes += '\r';
        else if (code != 0 && code <= 0xFF)
            bytes += static_cast<char>(code);
    }
    return bytes;
}

QString typed_text_filter(const QString& typed)
{
    QString kept;
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const char16_t code = typed[i].unicode();
        if (code == '\r') {
            kept += QChar('\n');
            if (i + 1 < typed.size() && typed[i + 1] == QChar('\n'))
                ++i;
        } else if (code == carriage_return_holder || code == line_feed_holder) {
            kept += QChar('\n');
        } else if (code != 0 && code <= 0xFF) {
            kept += typed[i];
        }
    }
    return kept;
}

field_edit::field_edit(QWidget* parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (on_user_edit)
            on_user_edit();
    });
}

void field_edit::write_bytes(const char* bytes)
{
    const QString text = field_text_from_bytes(bytes);
    // Keep the caret where the user was typing when the program rewrites
    // the field under it (stray characters removed); otherwise start at
    // the top, as a freshly written field does. Each byte is one character
    // of the document, a line break included.
    const bool typing = hasFocus();
    const std::string old_bytes = typing ? read_bytes() : std::string();
    const int old_position = textCursor().position();
    setPlainText(text);
    if (typing) {
        QTextCursor cursor = textCursor();
        cursor.setPosition(std::clamp(caret_after_rewrite(old_bytes, old_position, bytes), 0, length()));
        setTextCursor(cursor);
    }
}

std::string field_edit::read_bytes() const
{
    return bytes_from_field_text(document()->toRawText());
}

int field_edit::length() const
{
    return document()->characterCount() - 1;
}

QString field_edit::fitting_text(const QString& typed, bool& cut) const
{
    QString text = typed_text_filter(typed);
    cut = false;
    if (limit_ < 0)
        return text;
    const QTextCursor cursor = textCursor();
    const int kept = length() - (cursor.selectionEnd() - cursor.selectionStart());
    const int room = std::max(0, limit_ - kept);
    if (text.size() > room) {
        text.truncate(room);
        cut = true;
    }
    return text;
}

void field_edit::report_cut()
{
    if (on_user_cut)
        on_user_cut();
}

void field_edit::insert_user_text(const QString& text)
{
    if (text.isEmpty()) {
        QApplication::beep();
        return;
    }
    textCursor().insertText(text);
    ensureCursorVisible();
}

void field_edit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        // Enter and Esc belong to the dialog, which ignores them.
        event->ignore();
        return;
    default:
        break;
    }
    const QString typed = event->text();
    const bool inserts = !isReadOnly() && !typed.isEmpty() && typed.at(0).isPrint()
                         && !event->matches(QKeySequence::Paste)
                         && (event->modifiers() & Qt::ControlModifier) == 0;
    if (!inserts) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    bool cut = false;
    const QString text = fitting_text(typed, cut);
    if (text == typed) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    insert_user_text(text);
    if (cut)
        report_cut();
}

void field_edit::insertFromMimeData(const QMimeData* source)
{
    if (isReadOnly() || source == nullptr || !source->hasText())
        return;
    bool cut = false;
    insert_user_text(fitting_text(source->text(), cut));
    if (cut)
        report_cut();
}

void field_edit::inputMethodEvent(QInputMethodEvent* event)
{
    if (isReadOnly() || event->commitString().isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent fitted(event->preeditString(), event->attributes());
    bool cut = false;
    fitted.setCommitString(fitting_text(event->commitString(), cut), event->replacementStart(),
                           event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&fitted);
    event->accept();
    if (cut)
        report_cut();
}
