#include "qt_dialog.h"

#include "../dialog.h"
#include "field_edit.h"
#include "history_panel.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

QString latin1(const char* text)
{
    return QString::fromLatin1(text);
}

// The status field is one line: line breaks in a message are not shown.
QString one_line(const char* text)
{
    QString line;
    bool in_break = false;
    for (const char* p = text; *p != '\0'; ++p) {
        const bool line_break = *p == '\r' || *p == '\n';
        if (!line_break)
            line += QChar(static_cast<unsigned char>(*p));
        else if (!in_break)
            line += QChar(' ');
        in_break = line_break;
    }
    if (in_break)
        line.chop(1);
    return line;
}

// Read-only fields are drawn on the dialog's own background colour.
void show_as_read_only(QWidget* edit)
{
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
}

}  // namespace

// The icon is compiled into this library; a static library's resources are
// registered by hand.
static void register_icon_resource()
{
    Q_INIT_RESOURCE(torvane);
}

QFont qt_dialog::dialog_font()
{
    QFont font;
    font.setFamilies({QString::fromLatin1(dialog_font_face), QString::fromLatin1(dialog_font_fallback)});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(dialog_font_points);
    return font;
}

dialog_base_units qt_dialog::base_units(const QFont& font)
{
    const QFontMetrics metrics(font);
    return base_units_from_font(
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")),
        metrics.height());
}

qt_dialog::qt_dialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(latin1(dialog_title));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    register_icon_resource();
    setWindowIcon(QIcon(QStringLiteral(":/torvane/torvane.ico")));
    setFont(dialog_font());
    const dialog_base_units units = base_units(font());
    // The template's size and the row of the expression line below it.
    const pixel_rect size = to_pixels(0, 0, dialog_width_units, window_height_units, units);
    // The dialog's own size to start with; larger gives the value fields
    // more room (resizeEvent).
    template_size_ = QSize(size.width, size.height);
    setMinimumSize(template_size_);
    resize(template_size_);

    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        const template_control& entry = dialog_controls[i];
        QWidget* widget = make_control(entry);
        const pixel_rect r = to_pixels(entry.x, entry.y, entry.width, entry.height, units);
        template_rects_[i] = r;
        widget->setGeometry(r.x, r.y, r.width, r.height);
        if (const char* tip = tooltip_of(entry.id))
            widget->setToolTip(latin1(tip));
        if (!in_tab_order(entry.kind))
            widget->setFocusPolicy(Qt::NoFocus);
        else if (!entry.tab_stop)
            widget->setFocusPolicy(Qt::ClickFocus);
        else {
            widget->setFocusPolicy(Qt::StrongFocus);
            tab_order_.push_back(widget);
        }
        controls_[i] = widget;
    }
    make_expression_row(units);
    // Group boxes only frame the controls drawn over them.
    for (std::size_t i = 0; i < dialog_controls.size(); ++i)
        if (dialog_controls[i].kind == control_kind::group_box)
            controls_[i]->lower();
    name_controls();

    history_ = new history_panel(*this, *this, units);
    for (QWidget* stop : history_->tab_stops())
        tab_order_.push_back(stop);
    for (int id : field_list)
        history_->attach_field(field(id), id);
    history_->layout(0, height());

    dialog_initialise(*this);
}

qt_dialog::~qt_dialog()
{
    dialog_destroyed(*this);
}

QWidget* qt_dialog::make_control(const template_control& entry)
{
    const int id = entry.id;
    switch (entry.kind) {
    case control_kind::label: {
        auto* label = new QLabel(latin1(entry.caption), this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        return label;
    }
    case control_kind::field_edit:
    case control_kind::answer_edit: {
        auto* edit = new field_edit(this);
        edit->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        if (entry.kind == control_kind::answer_edit) {
            edit->setReadOnly(true);
            show_as_read_only(edit);
        } else {
            edit->on_user_edit = [this, id](bool pasted) {
                dialog_command(*this, id, pasted ? notify_edit_pasted : notify_edit_changed);
            };
            edit->on_user_cut = [this, id] { dialog_command(*this, id, notify_edit_full); };
            edit->on_unholdable = [this, id](char32_t code) { dialog_paste_refused(*this, id, code); };
        }
        return edit;
    }
    case control_kind::status_edit:
        status_ = new QLineEdit(this);
        status_->setReadOnly(true);
        show_as_read_only(status_);
        return status_;
    case control_kind::group_box:
        return new QGroupBox(this);
    case control_kind::auto_radio: {
        auto* radio = new QRadioButton(latin1(entry.caption), this);
        connect(radio, &QRadioButton::clicked, this, [this, id] { dialog_command(*this, id, notify_clicked); });
        return radio;
    }
    case control_kind::push_button:
    case control_kind::flat_button: {
        auto* button = new QPushButton(latin1(entry.caption), this);
        // The dialog has no default button: Enter presses nothing.
        button->setAutoDefault(false);
        if (entry.kind == control_kind::flat_button)
            button->setFlat(true);
        connect(button, &QPushButton::clicked, this, [this, id] { dialog_command(*this, id, notify_clicked); });
        return button;
    }
    }
    return nullptr;
}

void qt_dialog::make_expression_row(dialog_base_units units)
{
    auto* label = new QLabel(latin1(expression_row[0].caption), this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFocusPolicy(Qt::NoFocus);
    expression_ = new QLineEdit(this);
    // No cut: the dialog logic names a text that is too long.
    expression_->setMaxLength(std::numeric_limits<int>::max());
    expression_->setAccessibleName(latin1(expression_accessible_name));
    expression_->setFocusPolicy(Qt::StrongFocus);
    label->setBuddy(expression_);
    // Enter evaluates; the key then reaches the dialog as its OK command,
    // which does nothing.
    connect(expression_, &QLineEdit::returnPressed, this, [this] {
        const QByteArray text = expression_->text().toUtf8();
        dialog_expression(*this, std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    });
    row_ = {label, expression_};
    for (std::size_t i = 0; i < expression_row.size(); ++i) {
        const template_control& entry = expression_row[i];
        row_rects_[i] = to_pixels(entry.x, entry.y, entry.width, entry.height, units);
        row_[i]->setGeometry(row_rects_[i].x, row_rects_[i].y, row_rects_[i].width, row_rects_[i].height);
    }
    tab_order_.push_back(expression_);
}

QWidget* qt_dialog::control(int id) const
{
    for (std::size_t i = 0; i < dialog_controls.size(); ++i)
        if (dialog_controls[i].id == id && id != static_control_id)
            return controls_[i];
    return nullptr;
}

field_edit* qt_dialog::field(int id) const
{
    return dynamic_cast<field_edit*>(control(id));
}

int qt_dialog::read_field(int id, char* buffer, int size)
{
    if (size <= 0)
        return 0;
    std::string text;
    if (id == IDC_STATUS)
        text = status_text_;
    else if (id == IDC_EXPRESSION)
        text = expression_->text().toUtf8().toStdString();
    else if (const field_edit* edit = field(id))
        text = edit->read_bytes();
    const std::size_t count = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

void qt_dialog::write_field(int id, const char* text)
{
    if (id == IDC_STATUS)
        write_status(text);
    else if (id == IDC_EXPRESSION)
        expression_->setText(QString::fromUtf8(text));
    else if (field_edit* edit = field(id))
        edit->write_bytes(text);
}

void qt_dialog::write_status(const char* text)
{
    status_text_ = text;
    status_->setText(one_line(text));
    status_->setCursorPosition(0);
    announce_status(text);
}

void qt_dialog::check_radio(int first, int last, int id)
{
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        const int radio_id = dialog_controls[i].id;
        if (dialog_controls[i].kind != control_kind::auto_radio || radio_id < first || radio_id > last)
            continue;
        // Exclusive buttons refuse to be unchecked one by one.
        auto* radio = static_cast<QRadioButton*>(controls_[i]);
        radio->setAutoExclusive(false);
        radio->setChecked(radio_id == id);
        radio->setAutoExclusive(true);
    }
}

void qt_dialog::limit_field(int id, int count)
{
    if (field_edit* edit = field(id))
        edit->set_limit(count);
}

void qt_dialog::message_box(const char* caption, const char* text)
{
    QMessageBox box(QMessageBox::Information, latin1(caption), latin1(text), QMessageBox::Ok, this);
    box.exec();
}

void qt_dialog::end_dialog()
{
    ended_ = true;
    done(0);
}

void qt_dialog::post_wakeup()
{
    QMetaObject::invokeMethod(this, [this] { dialog_wakeup(*this); }, Qt::QueuedConnection);
}

void qt_dialog::set_busy(bool busy)
{
    busy_ = busy;
    // The buttons the job refuses look disabled; the keyboard focus leaves
    // them for the X field meanwhile (Esc still cancels from there) and
    // comes back afterwards.
    QWidget* focus = focusWidget();
    bool focus_refused = false;
    for (std::size_t i = 0; i < dialog_controls.size(); ++i)
        if (refused_while_busy(dialog_controls[i].id) && controls_[i] == focus)
            focus_refused = true;
    if (busy) {
        focus_before_busy_ = focus_refused ? focus : nullptr;
        if (focus_refused)
            control(IDC_FIELD_X)->setFocus(Qt::OtherFocusReason);
    }
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        if (dialog_controls[i].kind == control_kind::field_edit)
            static_cast<field_edit*>(controls_[i])->setReadOnly(busy);
        if (refused_while_busy(dialog_controls[i].id))
            controls_[i]->setEnabled(!busy);
    }
    history_->set_busy(busy);
    expression_->setReadOnly(busy);
    if (!busy && focus_before_busy_ != nullptr) {
        if (focusWidget() == control(IDC_FIELD_X))
            focus_before_busy_->setFocus(Qt::OtherFocusReason);
        focus_before_busy_ = nullptr;
    }
}

void qt_dialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        dialog_command(*this, command_ok, notify_clicked);
        return;
    case Qt::Key_Escape:
        event->accept();
        dialog_command(*this, command_cancel, notify_clicked);
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

// Tab and Shift+Tab walk the template's tab stops, each radio button
// included (Qt would otherwise enter the radio group only once), and then
// the controls added beside the template's (tab_chain).
bool qt_dialog::focusNextPrevChild(bool next)
{
    const std::vector<QWidget*> chain = tab_chain();
    const auto current = std::find(chain.begin(), chain.end(), focusWidget());
    if (current == chain.end())
        return QDialog::focusNextPrevChild(next);
    const auto count = static_cast<std::ptrdiff_t>(chain.size());
    std::ptrdiff_t index = current - chain.begin();
    for (std::ptrdiff_t step = 0; step < count; ++step) {
        index = (index + (next ? 1 : count - 1)) % count;
        QWidget* candidate = chain[static_cast<std::size_t>(index)];
        if (candidate->isVisible() && candidate->isEnabled()) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return true;
}

void qt_dialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const int extra_width = width() - template_size_.width() - (history_ != nullptr ? history_->width() : 0);
    const int extra_height = height() - template_size_.height();
    if (history_ != nullptr)
        history_->layout(extra_width, height());
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        if (controls_[i] == nullptr)
            continue;  // still being built
        const pixel_rect r = stretched(dialog_controls[i], template_rects_[i], extra_width, extra_height);
        controls_[i]->setGeometry(r.x, r.y, r.width, r.height);
    }
    for (std::size_t i = 0; i < expression_row.size(); ++i) {
        if (row_[i] == nullptr)
            continue;
        const pixel_rect r = stretched_row(expression_row[i], row_rects_[i], extra_width, extra_height);
        row_[i]->setGeometry(r.x, r.y, r.width, r.height);
    }
}

void qt_dialog::closeEvent(QCloseEvent* event)
{
    ended_ = false;
    dialog_close(*this);
    if (ended_)
        event->accept();
    else
        event->ignore();
}
