#include "history_panel.h"

#include "../dialog.h"
#include "../history.h"
#include "base_table.h"
#include "field_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <string>

namespace {

QString latin1(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Where the buttons above the fields go, in dialog units: right of CLEAR
// ALL, ending at the frame's right edge.
struct strip_button {
    int id;
    const char* caption;
    const char* name;  // as a person says it
    const char* tip;
    int x;
    int width;
};
constexpr strip_button strip[] = {
    {IDC_UNDO, "&Undo", "Undo",
     "Undo the last change of the registers: an operation, CL, CLEAR ALL, TO X, a recall, a paste or a base "
     "switch (Alt+U). Ctrl+Z in a field undoes typing there.",
     205, 36},
    {IDC_REDO, "&Redo", "Redo", "Redo what Undo took back (Alt+R).", 244, 36},
    {IDC_HISTORY_TOGGLE, "&History", "History", "Show or hide the history of answers (Alt+H)", 283, 40},
};
constexpr int strip_y = 0;
constexpr int strip_height = 10;
// The panel's width in dialog units.
constexpr int panel_units = 200;


}  // namespace

history_panel::history_panel(QDialog& dialog, dialog_window& window, dialog_base_units units)
    : QObject(&dialog), dialog_(dialog), window_(window), units_(units)
{
    for (const strip_button& b : strip) {
        auto* button = new QPushButton(QString::fromLatin1(b.caption), &dialog);
        button->setAutoDefault(false);
        button->setFlat(true);
        button->setAccessibleName(QString::fromLatin1(b.name));
        button->setToolTip(QString::fromLatin1(b.tip));
        button->setFocusPolicy(Qt::StrongFocus);
        const int id = b.id;
        if (id == IDC_HISTORY_TOGGLE)
            connect(button, &QPushButton::clicked, this, [this] { toggle(); });
        else
            connect(button, &QPushButton::clicked, this, [this, id] { dialog_command(window_, id, notify_clicked); });
        (id == IDC_UNDO ? undo_ : id == IDC_REDO ? redo_ : toggle_) = button;
    }

    panel_ = new QWidget(&dialog);
    auto* layout = new QVBoxLayout(panel_);
    layout->setContentsMargins(4, 2, 4, 4);
    title_ = new QLabel(QStringLiteral("Hi&story"), panel_);
    list_ = new QListWidget(panel_);
    list_->setAccessibleName(QString::fromLatin1(history_list_name));
    list_->setAccessibleDescription(QStringLiteral("Answers, newest last; Enter or a double click recalls one"));
    list_->setToolTip(QStringLiteral("Enter or a double click puts the entry's operands and answer back"));
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setFocusPolicy(Qt::StrongFocus);
    title_->setBuddy(list_);
    recall_ = new QPushButton(QStringLiteral("Reca&ll entry"), panel_);
    recall_->setAutoDefault(false);
    recall_->setAccessibleName(QStringLiteral("Recall entry"));
    recall_->setToolTip(QStringLiteral("Put the selected entry's operands and answer back (Alt+L, Enter)"));
    recall_->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(title_);
    layout->addWidget(list_, 1);
    layout->addWidget(recall_);
    panel_->hide();
    connect(list_, &QListWidget::itemActivated, this, [this] { recall_current(); });
    connect(recall_, &QPushButton::clicked, this, [this] { recall_current(); });

    set_history_listener(&history_panel::history_changed, this);
}

history_panel::~history_panel()
{
    clear_history_listener(this);
}

void history_panel::history_changed(void* self)
{
    static_cast<history_panel*>(self)->refill();
}

void history_panel::refill()
{
    const std::size_t count = history_entries().size();
    list_->clear();
    for (std::size_t n = 1; n <= count; ++n)
        list_->addItem(latin1(history_line(n, false)));
    if (count > 0) {
        list_->setCurrentRow(static_cast<int>(count) - 1);
        list_->scrollToBottom();
    }
}

void history_panel::recall_current()
{
    const int row = list_->currentRow();
    if (row >= 0)
        dialog_recall(window_, static_cast<std::size_t>(row) + 1);
}

std::vector<QWidget*> history_panel::tab_stops() const
{
    return {undo_, redo_, toggle_, list_, recall_};
}

bool history_panel::shown() const
{
    return !panel_->isHidden();
}

int history_panel::width() const
{
    return shown() ? to_pixels(0, 0, panel_units, 0, units_).width : 0;
}

void history_panel::toggle()
{
    const int panel = to_pixels(0, 0, panel_units, 0, units_).width;
    const bool show = !shown();
    panel_->setVisible(show);
    const QSize least = dialog_.minimumSize();
    const int wide = dialog_.width();
    if (show) {
        dialog_.setMinimumSize(least.width() + panel, least.height());
        dialog_.resize(wide + panel, dialog_.height());
        list_->setFocus(Qt::OtherFocusReason);
    } else {
        dialog_.setMinimumSize(least.width() - panel, least.height());
        dialog_.resize(wide - panel, dialog_.height());
    }
    // The layout follows the new width; a window manager may have refused
    // it, so it is laid out here as well.
    layout(dialog_.width() - width() - to_pixels(0, 0, dialog_width_units, 0, units_).width, dialog_.height());
}

void history_panel::layout(int extra_width, int height)
{
    const int dx = extra_width > 0 ? extra_width : 0;
    for (const strip_button& b : strip) {
        const pixel_rect r = to_pixels(b.x, strip_y, b.width, strip_height, units_);
        button(b.id)->setGeometry(r.x + dx, r.y, r.width, r.height);
        button(b.id)->raise();
    }
    const int left = to_pixels(0, 0, dialog_width_units, 0, units_).width + dx;
    panel_->setGeometry(left, 0, width(), height);
}

void history_panel::set_busy(bool busy)
{
    for (QWidget* w : {static_cast<QWidget*>(undo_), static_cast<QWidget*>(redo_), static_cast<QWidget*>(recall_)})
        w->setEnabled(!busy);
}

QPushButton* history_panel::button(int id) const
{
    switch (id) {
    case IDC_UNDO: return undo_;
    case IDC_REDO: return redo_;
    case IDC_HISTORY_TOGGLE: return toggle_;
    case IDC_RECALL: return recall_;
    default: return nullptr;
    }
}

void history_panel::attach_field(field_edit* edit, int id)
{
    edit->setProperty("torvane_field", id);
    edit->viewport()->setProperty("torvane_field", id);
    edit->viewport()->installEventFilter(this);
    edit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(edit, &QWidget::customContextMenuRequested, this, [this, edit, id](const QPoint& at) {
        QMenu* menu = context_menu(edit, id, at);
        menu->exec(edit->mapToGlobal(at));
        delete menu;
    });
}

QMenu* history_panel::context_menu(field_edit* edit, int id, const QPoint& at)
{
    QMenu* menu = edit->createStandardContextMenu(at);
    menu->addSeparator();
    QMenu* copy = menu->addMenu(QStringLiteral("Copy in &base"));
    for (const base_entry& b : base_table) {
        const int base = b.base;
        QAction* action = copy->addAction(QString::fromLatin1(b.caption));
        connect(action, &QAction::triggered, this, [this, id, base] {
            std::string text;
            if (field_text_in_base(id, base, text))
                QApplication::clipboard()->setText(latin1(text));
        });
    }
    return menu;
}

bool history_panel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const QVariant id = watched->property("torvane_field");
        if (id.isValid()) {
            const std::string tip = field_value_tip(id.toInt());
            auto* help = static_cast<QHelpEvent*>(event);
            if (tip.empty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), latin1(tip), static_cast<QWidget*>(watched));
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
