// The Qt dialog for assistive technology and the keyboard: accessible
// names from accessible_names.h, labels tied to their fields, the status
// line announced when it changes, and the tab chain.
#include "qt_dialog.h"

#include "../accessible_names.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QtGlobal>

#include <algorithm>

void qt_dialog::name_controls()
{
    for (std::size_t i = 0; i < dialog_controls.size(); ++i) {
        const template_control& entry = dialog_controls[i];
        if (const char* name = accessible_name_of(entry.id))
            controls_[i]->setAccessibleName(QString::fromLatin1(name));
        // A label describes the field of its row: a screen reader finds the
        // field's name through the label too (the "labelled by" relation).
        if (entry.kind == control_kind::label)
            if (const int row = field_row_of(entry); row >= 0 && row < field_count)
                if (auto* label = qobject_cast<QLabel*>(controls_[i]))
                    label->setBuddy(control(value_fields[static_cast<std::size_t>(row)].id));
    }
}

void qt_dialog::announce_status(const char* text)
{
    if (!announcer_.should_announce(text, status_announcer::clock::now()))
        return;
    // The status field's description is the line last announced: changing
    // it raises the description-changed event that a screen reader hears
    // (the field's value changes on every write, announced or not).
    const QString line = status_->text();
    status_->setAccessibleDescription(line);
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    QAccessibleAnnouncementEvent event(status_, line);
    QAccessible::updateAccessibility(&event);
#endif
}

// The template's tab stops in template order, then every other control that
// takes the focus by Tab (what a later feature adds beside the template's
// controls), in Qt's focus chain order.
std::vector<QWidget*> qt_dialog::tab_chain() const
{
    std::vector<QWidget*> chain = tab_order_;
    const auto in_template = [this](const QWidget* widget) {
        return std::any_of(controls_.begin(), controls_.end(),
                           [widget](const QWidget* c) { return c != nullptr && (c == widget || c->isAncestorOf(widget)); });
    };
    for (QWidget* w = nextInFocusChain(); w != nullptr && w != this; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->window() == this && !in_template(w)
            && std::find(chain.begin(), chain.end(), w) == chain.end())
            chain.push_back(w);
    return chain;
}
