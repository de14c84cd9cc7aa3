// The Qt dialog's controls beside the template's: Undo, Redo and History
// above the fields, the history panel at the right (its list and Recall),
// the value fields' "Copy in base" menu and their value tooltips.
#ifndef TORVANE_APP_SHELL_QT_HISTORY_PANEL_H
#define TORVANE_APP_SHELL_QT_HISTORY_PANEL_H

#include "../dialog_template.h"

#include <QObject>

#include <vector>

class QDialog;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QWidget;
class dialog_window;
class field_edit;

class history_panel : public QObject {
public:
    // Made once the template's controls exist, before the dialog logic
    // starts (it fills the list).
    history_panel(QDialog& dialog, dialog_window& window, dialog_base_units units);
    ~history_panel() override;

    // Gives value field `id` its "Copy in base" menu and its value tooltip.
    void attach_field(field_edit* edit, int id);

    // The controls in tab order, after the template's.
    std::vector<QWidget*> tab_stops() const;
    // Pixels the shown panel takes at the right of the window; 0 when
    // hidden.
    int width() const;
    bool shown() const;
    // Shows or hides the panel, widening or narrowing the window.
    void toggle();
    // The window is `extra_width` wider than the template (the panel not
    // counted) and `height` high: moves the controls.
    void layout(int extra_width, int height);
    void set_busy(bool busy);

    QListWidget* list() const { return list_; }
    QPushButton* button(int id) const;
    // The context menu of value field `id`: the field's own entries and
    // "Copy in base"; the caller owns it.
    QMenu* context_menu(field_edit* edit, int id, const QPoint& at);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void history_changed(void* self);
    void refill();
    void recall_current();

    QDialog& dialog_;
    dialog_window& window_;
    dialog_base_units units_;
    QPushButton* undo_ = nullptr;
    QPushButton* redo_ = nullptr;
    QPushButton* toggle_ = nullptr;
    QWidget* panel_ = nullptr;
    QLabel* title_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* recall_ = nullptr;
};

#endif
