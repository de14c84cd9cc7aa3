// The Qt platform layer: the calculator dialog built from the template
// table, its controls' events delivered to the dialog logic, and the
// logic's window operations carried out on the widgets.
#ifndef TORVANE_APP_SHELL_QT_QT_DIALOG_H
#define TORVANE_APP_SHELL_QT_QT_DIALOG_H

#include "../accessible_names.h"
#include "../dialog_template.h"
#include "../window.h"

#include <QDialog>
#include <QPointer>

#include <array>
#include <string>
#include <vector>

class field_edit;
class history_panel;
class QLineEdit;

class qt_dialog : public QDialog, public dialog_window {
public:
    explicit qt_dialog(QWidget* parent = nullptr);
    ~qt_dialog() override;

    // The dialog font: Courier New 9 pt, or its metric twin where it is
    // missing.
    static QFont dialog_font();
    // Dialog base units of a font.
    static dialog_base_units base_units(const QFont& font);

    // The widgets in template order, and one by its control id.
    const std::array<QWidget*, dialog_controls.size()>& controls() const { return controls_; }
    QWidget* control(int id) const;
    // The expression line and its label (the row below the template's
    // controls).
    QLineEdit* expression_line() const { return expression_; }

    // The exact text of the last status write (the field shows it without
    // line breaks).
    const std::string& status_text() const { return status_text_; }

    // Undo, Redo, History and the history panel beside the template's
    // controls.
    history_panel* history() const { return history_; }

    // Whether a job runs (between set_busy(true) and set_busy(false)).
    bool busy() const { return busy_; }

    int read_field(int id, char* buffer, int size) override;
    void write_field(int id, const char* text) override;
    void write_status(const char* text) override;
    void check_radio(int first, int last, int id) override;
    void limit_field(int id, int count) override;
    void message_box(const char* caption, const char* text) override;
    void end_dialog() override;
    bool posts_wakeups() const override { return true; }
    void post_wakeup() override;
    void set_busy(bool busy) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    QWidget* make_control(const template_control& entry);
    void make_expression_row(dialog_base_units units);
    field_edit* field(int id) const;
    // qt_accessibility.cpp: accessible names and label buddies, the status
    // line's announcement, and the controls Tab walks.
    void name_controls();
    void announce_status(const char* text);
    std::vector<QWidget*> tab_chain() const;

    std::array<QWidget*, dialog_controls.size()> controls_{};
    // Where the template puts each control, and the template's size: the
    // layout a resized window stretches.
    std::array<pixel_rect, dialog_controls.size()> template_rects_{};
    QSize template_size_;
    std::vector<QWidget*> tab_order_;
    QLineEdit* status_ = nullptr;
    history_panel* history_ = nullptr;
    QLineEdit* expression_ = nullptr;
    std::array<QWidget*, expression_row.size()> row_{};
    std::array<pixel_rect, expression_row.size()> row_rects_{};
    std::string status_text_;
    status_announcer announcer_;
    bool ended_ = false;
    bool busy_ = false;
    // The button that had the focus when a job began.
    QPointer<QWidget> focus_before_busy_;
};

#endif
