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

bool find_unholdable(const QString& typed, char32_t& code)
{
    for (const char32_t c : typed.toUcs4()) {
        if (c == 0 || (c > 0xFF && c != carriage_return_holder && c != line_feed_holder)) {
            code = c;
            return true;
        }
    }
    return false;
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
            on_user_edit(pasting_);
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

bool field_edit::accepts(const QString& typed)
{
    // Nothing of a text is dropped or cut without a word: a text the field
    // cannot hold whole is refused whole.
    char32_t code = 0;
    if (find_unholdable(typed, code)) {
        QApplication::beep();
        if (on_unholdable)
            on_unholdable(code);
        return false;
    }
    if (limit_ < 0)
        return true;
    const QTextCursor cursor = textCursor();
    const int kept = length() - (cursor.selectionEnd() - cursor.selectionStart());
    if (typed_text_filter(typed).size() <= limit_ - kept)
        return true;
    QApplication::beep();
    if (on_user_cut)
        on_user_cut();
    return false;
}

void field_edit::insert_user_text(const QString& text)
{
    if (text.isEmpty())
        return;
    // One change, reported once, for the whole text.
    pasting_ = text.size() > 1;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.insertText(text);
    cursor.endEditBlock();
    setTextCursor(cursor);
    pasting_ = false;
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
    event->accept();
    if (!accepts(typed))
        return;
    const QString text = typed_text_filter(typed);
    if (text == typed && text.size() == 1) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    insert_user_text(text);
}

void field_edit::insertFromMimeData(const QMimeData* source)
{
    if (isReadOnly() || source == nullptr || !source->hasText())
        return;
    if (accepts(source->text()))
        insert_user_text(typed_text_filter(source->text()));
}

void field_edit::inputMethodEvent(QInputMethodEvent* event)
{
    if (isReadOnly() || event->commitString().isEmpty()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent fitted(event->preeditString(), event->attributes());
    const QString committed = accepts(event->commitString()) ? typed_text_filter(event->commitString()) : QString();
    fitted.setCommitString(committed, event->replacementStart(), event->replacementLength());
    pasting_ = committed.size() > 1;
    QPlainTextEdit::inputMethodEvent(&fitted);
    pasting_ = false;
    event->accept();
}
